#include "app/MainWindow.h"
#include "app/ResultsDialog.h"
#include "engine/batch/BatchSettings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

using Tree = QMap<QString, QByteArray>; // relative path with "/" -> bytes

const QString reportName = QStringLiteral("包含内容并成功修改的文件目录.txt");

void WriteTree(const QString &folder, const Tree &tree)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = QDir(folder).filePath(it.key());
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(it.value()), qint64(it.value().size()));
    }
}

Tree ReadTree(const QString &folder)
{
    Tree tree;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tree.insert(QDir(folder).relativeFilePath(path), file.readAll());
    }
    return tree;
}

// Three files that hold the find text, the first two named alike.
Tree Novels()
{
    return {{QStringLiteral("甲一.txt"), "小云来了\n"},
            {QStringLiteral("甲二.txt"), "小云走了\n"},
            {QStringLiteral("乙.txt"), "小云和小云\n"}};
}

QByteArray Replaced(const QString &name)
{
    QByteArray bytes = Novels().value(name);
    return bytes.replace("小云", "小雨").replace("\n", "\r\n");
}

// Types a text as key presses; QTest::keyClicks takes only ASCII.
void Type(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            QTest::keyClick(widget, Qt::Key_Return);
            continue;
        }
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

class TestPreview : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keysNeverApply_data();
    void keysNeverApply();
    void applyWritesWhatIsShown_data();
    void applyWritesWhatIsShown();
    void insertInPlaceAsksFirst_data();
    void insertInPlaceAsksFirst();
    void conversionPreviewedOrAsked_data();
    void conversionPreviewedOrAsked();

private:
    QString source() const { return root->filePath(QStringLiteral("源")) + QLatin1Char('/'); }
    template <class T> T *field(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    // Starts a preview of 小云 → 小雨 in place (or a search) and waits for its rows.
    ResultsDialog *preview(bool search);
    Tree untouched() const;

    std::unique_ptr<QTemporaryDir> root;
    std::unique_ptr<MainWindow> window;
    QStringList opened;
};

void TestPreview::init()
{
    root = std::make_unique<QTemporaryDir>();
    QVERIFY(root->isValid());
    WriteTree(source(), Novels());
    // A stale report that an apply with nothing to write must leave alone.
    WriteTree(source(), {{reportName, "stale"}});
    opened.clear();
    window = std::make_unique<MainWindow>(root->filePath(QStringLiteral("Parafold.cvn")));
    window->setReportOpener(
        [this](const QString &path, const std::function<void()> &) { opened << path; });
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    field<QLineEdit>("lEdt_SourcePath")->setText(source());
    field<QCheckBox>("cBox_SaveInSrc")->setChecked(true);
    field<QCheckBox>("cBox_Preview")->setChecked(true);
}

void TestPreview::cleanup()
{
    window.reset();
    root.reset();
}

Tree TestPreview::untouched() const
{
    Tree tree = Novels();
    tree.insert(reportName, "stale");
    return tree;
}

ResultsDialog *TestPreview::preview(bool search)
{
    if (search) {
        field<QLineEdit>("lEdt_JustFindText")->setText(QStringLiteral("小云"));
        QTest::mouseClick(field<QPushButton>("pBtn_JustFindText"), Qt::LeftButton);
    } else {
        field<QLineEdit>("lEdt_FindText")->setText(QStringLiteral("小云"));
        field<QLineEdit>("lEdt_ReplaceExcelText")->setText(QStringLiteral("小雨"));
        QTest::mouseClick(field<QPushButton>("pBtn_ReplaceExcelText"), Qt::LeftButton);
    }
    if (!QTest::qWaitFor([this] { return !window->isRunWorking(); }, 20000))
        return nullptr;
    auto *results = window->findChild<ResultsDialog *>();
    if (results && !QTest::qWaitForWindowActive(results))
        return nullptr;
    return results;
}

void TestPreview::keysNeverApply_data()
{
    QTest::addColumn<bool>("search");
    QTest::addColumn<QString>("where"); // the widget that has the key
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("opens"); // the file in hand is opened

    QTest::newRow("Return on a row")
        << false << QStringLiteral("row") << int(Qt::Key_Return) << true;
    QTest::newRow("Enter on a row") << false << QStringLiteral("row") << int(Qt::Key_Enter) << true;
    QTest::newRow("Return in the filter")
        << false << QStringLiteral("filter") << int(Qt::Key_Return) << false;
    QTest::newRow("Return on the apply button")
        << false << QStringLiteral("apply") << int(Qt::Key_Return) << false;
    QTest::newRow("Return in the find results")
        << true << QStringLiteral("row") << int(Qt::Key_Return) << true;
}

void TestPreview::keysNeverApply()
{
    QFETCH(bool, search);
    QFETCH(QString, where);
    QFETCH(int, key);
    QFETCH(bool, opens);

    ResultsDialog *results = preview(search);
    QVERIFY(results);
    const Tree before = ReadTree(source());
    QWidget *target = results->findChild<QTableView *>();
    if (where == QLatin1String("filter")) {
        target = results->findChild<QLineEdit *>();
        Type(target, QStringLiteral("甲"));
    } else if (where == QLatin1String("apply")) {
        target = results->findChild<QPushButton *>(QStringLiteral("pBtn_ApplyChecked"));
    }
    target->setFocus();
    QTest::keyClick(target, Qt::Key(key));
    QTest::qWait(300);
    QVERIFY(!window->isRunWorking());
    QCOMPARE(ReadTree(source()), before);
    QVERIFY2(window->findChild<ResultsDialog *>() && results->isVisible(), "the view closed");
    QCOMPARE(opened.size() - opened.filter(reportName).size(), opens ? 1 : 0);
    if (where == QLatin1String("filter"))
        QCOMPARE(results->findChild<QTableView *>()->model()->rowCount(), 2);
}

void TestPreview::applyWritesWhatIsShown_data()
{
    QTest::addColumn<QStringList>("steps"); // "filter:TEXT", "all" or "none" on the rows shown
    QTest::addColumn<bool>("byAltKey");
    QTest::addColumn<QStringList>("written");

    const QString one = QStringLiteral("甲一.txt");
    const QString two = QStringLiteral("甲二.txt");
    const QString three = QStringLiteral("乙.txt");
    const auto filter = [](const char *text) {
        return QStringLiteral("filter:") + QString::fromUtf8(text);
    };
    QTest::newRow("no filter, by click") << QStringList() << false << QStringList{one, two, three};
    QTest::newRow("no filter, by its Alt key")
        << QStringList() << true << QStringList{one, two, three};
    QTest::newRow("filter: only the files shown")
        << QStringList{filter("甲")} << false << QStringList{one, two};
    QTest::newRow("filter, none checked, filter emptied")
        << QStringList{filter("甲"), QStringLiteral("none"), filter("")} << false
        << QStringList{three};
    QTest::newRow("nothing checked writes nothing, keeps the reports")
        << QStringList{QStringLiteral("none")} << false << QStringList();
    QTest::newRow("none, then all of those shown")
        << QStringList{QStringLiteral("none"), filter("乙"), QStringLiteral("all"), filter("")}
        << false << QStringList{three};
}

void TestPreview::applyWritesWhatIsShown()
{
    QFETCH(QStringList, steps);
    QFETCH(bool, byAltKey);
    QFETCH(QStringList, written);

    ResultsDialog *results = preview(false);
    QVERIFY(results);
    // Where it writes is in the view.
    QVERIFY(results->findChild<QLabel *>(QStringLiteral("lb_WritesTo"))
                ->text()
                .contains(QDir::toNativeSeparators(source())));
    auto *filterField = results->findChild<QLineEdit *>();
    for (const QString &step : steps) {
        if (step.startsWith(QLatin1String("filter:"))) {
            filterField->selectAll();
            QTest::keyClick(filterField, Qt::Key_Delete);
            Type(filterField, step.mid(7));
            QTest::keyClick(filterField, Qt::Key_Return);
            continue;
        }
        const QString text = step == QLatin1String("all") ? QStringLiteral("全选(&L)")
                                                          : QStringLiteral("全不选(&N)");
        for (QPushButton *button : results->findChildren<QPushButton *>()) {
            if (button->text() == text)
                QTest::mouseClick(button, Qt::LeftButton);
        }
    }
    auto *apply = results->findChild<QPushButton *>(QStringLiteral("pBtn_ApplyChecked"));
    QCOMPARE(apply->isEnabled(), !written.isEmpty());
    if (byAltKey)
        QTest::keyClick(results->focusWidget(), Qt::Key_A, Qt::AltModifier);
    else
        QTest::mouseClick(apply, Qt::LeftButton);
    QTest::qWait(300); // a button's Alt key clicks it 100 ms later
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);

    Tree expected = Novels();
    for (const QString &name : written)
        expected.insert(name, Replaced(name));
    Tree seen = ReadTree(source());
    const QByteArray report = seen.take(reportName);
    QCOMPARE(seen, expected);
    if (written.isEmpty()) {
        QCOMPARE(report, QByteArray("stale"));
        QVERIFY(results->isVisible());
    } else {
        QCOMPARE(report.count("\r\n"), written.size());
        QVERIFY(!window->findChild<ResultsDialog *>() || !results->isVisible());
    }
}

void TestPreview::insertInPlaceAsksFirst_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes writes") << true;
    QTest::newRow("no writes nothing") << false;
}

void TestPreview::insertInPlaceAsksFirst()
{
    QFETCH(bool, yes);
    field<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("序"));
    field<QRadioButton>("rBtn_InsertFront")->setChecked(true);
    QTest::mouseClick(field<QPushButton>("pBtn_InsertText"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
    auto *results = window->findChild<ResultsDialog *>();
    QVERIFY(results);
    QCOMPARE(ReadTree(source()), untouched()); // the preview itself asks nothing, writes nothing

    QString asked;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked = box->windowTitle();
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    answerer.start(25);
    QTest::mouseClick(results->findChild<QPushButton *>(QStringLiteral("pBtn_ApplyChecked")),
                      Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
    answerer.stop();
    QCOMPARE(asked, QStringLiteral("插入"));
    Tree seen = ReadTree(source());
    seen.remove(reportName);
    if (!yes) {
        QCOMPARE(seen, Novels());
        QVERIFY(results->isVisible());
        return;
    }
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        QVERIFY2(it.value().startsWith("序"), qPrintable(it.key()));
}

void TestPreview::conversionPreviewedOrAsked_data()
{
    QTest::addColumn<bool>("preview");
    QTest::addColumn<bool>("yes");
    QTest::newRow("previewed, then applied") << true << true;
    QTest::newRow("previewed, the question answered no") << true << false;
    QTest::newRow("direct, asked first, yes") << false << true;
    QTest::newRow("direct, asked first, no") << false << false;
}

void TestPreview::conversionPreviewedOrAsked()
{
    QFETCH(bool, preview);
    QFETCH(bool, yes);
    const QString gbkName = QStringLiteral("丙.txt");
    const QByteArray gbk = QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("小云\r\n"));
    WriteTree(source(), {{gbkName, gbk}});
    field<QCheckBox>("cBox_Preview")->setChecked(preview);

    QStringList asked;
    QTimer answerer;
    connect(&answerer, &QTimer::timeout, [&] {
        auto box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        asked << box->windowTitle();
        box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    });
    answerer.start(25);
    QTest::mouseClick(field<QPushButton>("pBtn_ConvertEncoding"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
    if (preview) {
        auto *results = window->findChild<ResultsDialog *>();
        QVERIFY(results);
        QVERIFY(asked.isEmpty());
        QCOMPARE(ReadTree(source()).value(gbkName), gbk); // the preview wrote nothing
        // The one file not yet in UTF-8.
        QAbstractItemModel *rows = results->findChild<QTableView *>()->model();
        QCOMPARE(rows->rowCount(), 1);
        QCOMPARE(rows->index(0, ResultsDialog::PathColumn).data().toString(), gbkName);
        QCOMPARE(rows->index(0, ResultsDialog::EncodingColumn).data().toString(),
                 QStringLiteral("GBK"));
        QTest::mouseClick(results->findChild<QPushButton *>(QStringLiteral("pBtn_ApplyChecked")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
    }
    answerer.stop();
    QCOMPARE(asked, QStringList{QStringLiteral("转换")});
    Tree seen = ReadTree(source());
    seen.remove(reportName);
    Tree expected = Novels();
    expected.insert(gbkName, yes ? QByteArray("小云\r\n") : gbk);
    QCOMPARE(seen, expected);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
