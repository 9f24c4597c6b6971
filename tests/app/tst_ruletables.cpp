#include "app/MainWindow.h"
#include "app/ResultsDialog.h"
#include "engine/batch/BatchSettings.h"
#include "tests/app/WindowFixture.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using namespace window_fixture;

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    WriteTree(QFileInfo(path).path(), {{QFileInfo(path).fileName(), bytes}});
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text files of a folder; the reports aside.
Tree ReadTexts(const QString &folder)
{
    Tree tree = ReadTree(folder, {QStringLiteral("*.txt")});
    for (const QString &name : tree.keys()) {
        if (name.contains(QStringLiteral("目录")) || name.contains(QStringLiteral("命中")))
            tree.remove(name);
    }
    return tree;
}

const QByteArray novel = "第一章（本章未完，请点击下一页继续阅读）小云\\说\n";

} // namespace

class TestRuleTables : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pickedByMouse_data();
    void pickedByMouse();
    void escapesRoundTrip();
    void typedEscapesFlagged_data();
    void typedEscapesFlagged();
    void editorEdits_data();
    void editorEdits();
    void hitsPerRule_data();
    void hitsPerRule();

private:
    QString path(const char *name) const { return root->filePath(QString::fromUtf8(name)); }
    QString tablePath(const QString &name) const { return path("rules/") + name; }
    template <class T> T *field(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QPlainTextEdit *findBox() const { return field<QPlainTextEdit>("pTEdt_FindText"); }
    QPlainTextEdit *replaceBox() const { return field<QPlainTextEdit>("pTEdt_ReplaceExcelText"); }
    // Runs a rules action; `inside` handles the dialog it opens.
    void trigger(const char *action, const std::function<void()> &inside = {});
    void saveBoxesAs(const QString &name);
    void pickByKeyboard(const QString &name);
    // Runs the pairs into `folder`, answering each question with `answer`; the questions asked.
    QStringList runPairs(const QString &folder, QMessageBox::StandardButton answer);

    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<MainWindow> window;
};

void TestRuleTables::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    WriteFile(path("源/书.txt"), novel);
    window = std::make_unique<MainWindow>(path("Parafold.cvn"));
    window->setReportOpener([](const QString &, const std::function<void()> &) {});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    field<QLineEdit>("lEdt_SourcePath")->setText(path("源/"));
}

void TestRuleTables::cleanup()
{
    window.reset();
    root.reset();
}

void TestRuleTables::trigger(const char *action, const std::function<void()> &inside)
{
    bool handled = !inside;
    QTimer::singleShot(100, [&] {
        if (inside)
            inside();
        handled = true;
    });
    window->findChild<QAction *>(QString::fromLatin1(action))->trigger();
    QTRY_VERIFY(handled);
}

void TestRuleTables::saveBoxesAs(const QString &name)
{
    trigger("act_SaveRuleTable", [name] {
        auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->setTextValue(name);
        dialog->accept();
    });
}

void TestRuleTables::pickByKeyboard(const QString &name)
{
    auto *list = field<QComboBox>("cBox_RuleTable");
    // Tables written since are listed when the list takes the focus.
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    list->setFocus();
    QTRY_VERIFY(list->hasFocus());
    list->setCurrentIndex(0);
    for (int i = 0; i < list->count() && list->currentText() != name; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(list->currentText(), name);
}

QStringList TestRuleTables::runPairs(const QString &folder, QMessageBox::StandardButton answer)
{
    QDir().mkpath(folder);
    field<QLineEdit>("lEdt_SavePath")->setText(folder);
    BoxAnswerer answerer(answer);
    QTest::mouseClick(field<QPushButton>("pBtn_ReplaceExcelText_2"), Qt::LeftButton);
    if (!QTest::qWaitFor([this] { return !window->isRunWorking(); }, 20000))
        answerer.asked << QStringLiteral("the run did not end");
    return answerer.asked;
}

void TestRuleTables::pickedByMouse_data()
{
    QTest::addColumn<QString>("before"); // picked first by keyboard, or none
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("finds");
    QTest::newRow("a first pick") << QString() << QStringLiteral("二.txt")
                                  << QStringLiteral("丙\n戊");
    QTest::newRow("after another table")
        << QStringLiteral("一.txt") << QStringLiteral("二.txt") << QStringLiteral("丙\n戊");
    QTest::newRow("back to the first")
        << QStringLiteral("二.txt") << QStringLiteral("一.txt") << QStringLiteral("甲");
}

void TestRuleTables::pickedByMouse()
{
    QFETCH(QString, before);
    QFETCH(QString, picked);
    QFETCH(QString, finds);
    WriteFile(tablePath(QStringLiteral("一.txt")), "甲\t乙\n");
    WriteFile(tablePath(QStringLiteral("二.txt")), "丙\t丁\n戊\t己\n");
    findBox()->setPlainText(QStringLiteral("旧"));
    if (!before.isEmpty())
        pickByKeyboard(before);

    auto *list = field<QComboBox>("cBox_RuleTable");
    QTest::mouseClick(list, Qt::LeftButton);
    QAbstractItemView *popup = list->view();
    QTRY_VERIFY(popup->isVisible());
    // The list takes no release of the click that opened it.
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    const int row = list->findText(picked);
    QVERIFY(row > 0);
    const QRect item = popup->visualRect(popup->model()->index(row, 0));
    QTest::mouseClick(popup->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_VERIFY(!popup->isVisible());
    QCOMPARE(list->currentText(), picked);
    QCOMPARE(findBox()->toPlainText(), finds);
}

void TestRuleTables::escapesRoundTrip()
{
    // Typed with the table's escapes: a line feed, a tab, a backslash.
    findBox()->setPlainText(QStringLiteral("（本章未完，请点击下一页继续阅读）\n小云\\\\说"));
    replaceBox()->setPlainText(QStringLiteral("\\n\n小云\\t说"));
    saveBoxesAs(QStringLiteral("往返"));
    QCOMPARE(ReadFile(tablePath(QStringLiteral("往返.txt"))),
             QByteArray("（本章未完，请点击下一页继续阅读）\t\\n\n小云\\\\说\t小云\\t说\n"));

    findBox()->clear();
    replaceBox()->clear();
    pickByKeyboard(QStringLiteral("往返.txt"));
    QCOMPARE(findBox()->toPlainText(),
             QStringLiteral("（本章未完，请点击下一页继续阅读）\n小云\\\\说"));
    QCOMPARE(replaceBox()->toPlainText(), QStringLiteral("\\n\n小云\\t说"));
    // One more rule typed into the boxes: the reloaded lines keep their meaning.
    QTest::keyClick(findBox(), Qt::Key_End, Qt::ControlModifier);
    Type(findBox(), QStringLiteral("\n第一章"));
    QTest::keyClick(replaceBox(), Qt::Key_End, Qt::ControlModifier);
    Type(replaceBox(), QStringLiteral("\n第1章"));
    QCOMPARE(runPairs(path("窗口/"), QMessageBox::Yes), QStringList());
    const Tree byWindow = ReadTexts(path("窗口/"));
    QCOMPARE(byWindow.value(QStringLiteral("书.txt")), QByteArray("第1章\r\n小云\t说\r\n"));

    saveBoxesAs(QStringLiteral("往返2"));
    QDir().mkpath(path("命令行/"));
    QProcess cli;
    cli.start(QStringLiteral(PARAFOLD_CLI_PATH),
              {QStringLiteral("replace-pairs"), path("源/"), QStringLiteral("--rules"),
               tablePath(QStringLiteral("往返2.txt")), QStringLiteral("--save-dir"),
               path("命令行/")});
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(ReadTexts(path("命令行/")), byWindow);
}

void TestRuleTables::typedEscapesFlagged_data()
{
    QTest::addColumn<QString>("finds");
    QTest::addColumn<QString>("replacements");
    QTest::addColumn<bool>("fromTable"); // the boxes filled from a table, left as they are
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<QByteArray>("written"); // empty: nothing written

    const QByteArray lineFeed = "第一章\r\n小云\\说\r\n";
    QTest::newRow("a typed \\n, cancelled")
        << QStringLiteral("小云") << QStringLiteral("小\\n云") << false << int(QMessageBox::Cancel)
        << QStringList{QStringLiteral("框中的换行和制表符")} << QByteArray();
    QTest::newRow("a typed \\t, run")
        << QStringLiteral("小云") << QStringLiteral("小\\t云") << false << int(QMessageBox::Yes)
        << QStringList{QStringLiteral("框中的换行和制表符")}
        << QByteArray("第一章（本章未完，请点击下一页继续阅读）小\t云\\说\r\n");
    QTest::newRow("a backslash that starts no escape is refused")
        << QStringLiteral("小云\\说") << QStringLiteral("x") << false << int(QMessageBox::Ok)
        << QStringList{QStringLiteral("规则")} << QByteArray();
    QTest::newRow("a table's \\n left as filled: not asked")
        << QStringLiteral("（本章未完，请点击下一页继续阅读）") << QStringLiteral("\\n") << true
        << int(QMessageBox::Yes) << QStringList() << lineFeed;
}

void TestRuleTables::typedEscapesFlagged()
{
    QFETCH(QString, finds);
    QFETCH(QString, replacements);
    QFETCH(bool, fromTable);
    QFETCH(int, answer);
    QFETCH(QStringList, asked);
    QFETCH(QByteArray, written);

    findBox()->setPlainText(finds);
    replaceBox()->setPlainText(replacements);
    if (fromTable) {
        saveBoxesAs(QStringLiteral("表"));
        findBox()->clear();
        pickByKeyboard(QStringLiteral("表.txt"));
    }
    QCOMPARE(runPairs(path("存/"), QMessageBox::StandardButton(answer)), asked);
    QCOMPARE(ReadTexts(path("存/")).value(QStringLiteral("书.txt")), written);
}

void TestRuleTables::editorEdits_data()
{
    QTest::addColumn<QStringList>("steps"); // "row:what", rows from 1
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QString>("finds"); // the boxes afterwards

    QTest::newRow("switched off: kept as #off, left out of the boxes")
        << QStringList{QStringLiteral("1:off")} << QByteArray("#off 甲\t乙\n丙\t丁\n戊\t己\n")
        << QStringLiteral("丙\n戊");
    QTest::newRow("moved up, then one deleted")
        << QStringList{QStringLiteral("3:up"), QStringLiteral("1:delete")}
        << QByteArray("戊\t己\n丙\t丁\n") << QStringLiteral("戊\n丙");
    QTest::newRow("moved down") << QStringList{QStringLiteral("1:down")}
                                << QByteArray("丙\t丁\n甲\t乙\n戊\t己\n")
                                << QStringLiteral("丙\n甲\n戊");
    QTest::newRow("added after the first, typed with escapes")
        << QStringList{QStringLiteral("1:add")}
        << QByteArray("甲\t乙\n庚\\t\t辛\\n\n丙\t丁\n戊\t己\n")
        << QStringLiteral("甲\n庚\\t\n丙\n戊");
}

void TestRuleTables::editorEdits()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, saved);
    QFETCH(QString, finds);
    WriteFile(tablePath(QStringLiteral("表.txt")), "甲\t乙\n丙\t丁\n戊\t己\n");
    pickByKeyboard(QStringLiteral("表.txt"));

    trigger("act_EditRules", [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        auto *view = dialog->findChild<QTableWidget *>(QStringLiteral("tbl_Rules"));
        const auto press = [dialog](const char *name) {
            QTest::mouseClick(dialog->findChild<QPushButton *>(QString::fromLatin1(name)),
                              Qt::LeftButton);
        };
        for (const QString &step : steps) {
            const int row = step.section(QLatin1Char(':'), 0, 0).toInt() - 1;
            const QString what = step.section(QLatin1Char(':'), 1);
            view->setFocus();
            view->setCurrentCell(row, 0);
            if (what == QLatin1String("off")) {
                QTest::keyClick(view, Qt::Key_Space);
                // Still there, greyed.
                QCOMPARE(view->rowCount(), 3);
                QVERIFY(view->item(row, 1)->foreground().color() !=
                        view->item(row + 1, 1)->foreground().color());
            } else if (what == QLatin1String("up")) {
                press("pBtn_RuleUp");
            } else if (what == QLatin1String("down")) {
                press("pBtn_RuleDown");
            } else if (what == QLatin1String("delete")) {
                press("pBtn_DeleteRule");
            } else {
                press("pBtn_AddRule");
                const auto typeInCell = [view](const QString &text) {
                    // The open one: a closed editor goes only later.
                    QLineEdit *cell = nullptr;
                    for (QLineEdit *editor : view->findChildren<QLineEdit *>()) {
                        if (editor->isVisible())
                            cell = editor;
                    }
                    QVERIFY(cell);
                    Type(cell, text);
                    QTest::keyClick(cell, Qt::Key_Return);
                };
                typeInCell(QStringLiteral("庚\\t"));
                QVERIFY2(dialog->isVisible(), "Return in a cell closed the editor");
                view->setCurrentCell(row + 1, 2);
                view->editItem(view->currentItem());
                typeInCell(QStringLiteral("辛\\n"));
            }
        }
        QTest::qWait(50);
        QVERIFY(dialog->isVisible());
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("保存(&S)"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(ReadFile(tablePath(QStringLiteral("表.txt"))), saved);
    QCOMPARE(findBox()->toPlainText(), finds);
}

void TestRuleTables::hitsPerRule_data()
{
    QTest::addColumn<bool>("preview");
    QTest::newRow("in the preview") << true;
    QTest::newRow("after the run") << false;
}

void TestRuleTables::hitsPerRule()
{
    QFETCH(bool, preview);
    QByteArray table = "小云\t小雨\n说\t讲\n";
    for (int i = 0; i < 8; ++i)
        table += "没有" + QByteArray::number(i) + "\tx\n";
    WriteFile(tablePath(QStringLiteral("多.txt")), table);
    pickByKeyboard(QStringLiteral("多.txt"));
    field<QCheckBox>("cBox_Preview")->setChecked(preview);
    QCOMPARE(runPairs(path("存/"), QMessageBox::Yes), QStringList());

    QTableView *hits = nullptr;
    QTRY_VERIFY((hits = window->findChild<QTableView *>(
                     QLatin1String(preview ? "tbl_RuleHits" : "tbl_LastRuleHits"))));
    QTRY_VERIFY(hits->isVisible());
    QAbstractItemModel *rows = hits->model();
    QCOMPARE(rows->rowCount(), 10);
    const auto hitsOf = [rows](int row) { return rows->index(row, 2).data().toString(); };
    QCOMPARE(rows->index(0, 1).data().toString(), QStringLiteral("小云 → 小雨"));
    QCOMPARE(hitsOf(0), QStringLiteral("1"));
    // A click on the hits header puts the rules that hit nothing first, marked.
    QHeaderView *header = hits->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(2) + 5, header->height() / 2));
    QCOMPARE(hitsOf(0), QStringLiteral("0"));
    QCOMPARE(hitsOf(9), QStringLiteral("1"));
    QVERIFY(rows->index(0, 1).data(Qt::BackgroundRole) !=
            rows->index(9, 1).data(Qt::BackgroundRole));
}

QTEST_MAIN(TestRuleTables)
#include "tst_ruletables.moc"
