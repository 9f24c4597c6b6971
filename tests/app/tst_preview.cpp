#include "app/MainWindow.h"
#include "app/ResultsDialog.h"
#include "engine/batch/BatchSettings.h"
#include "tests/app/WindowFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <memory>

namespace {

using namespace window_fixture;

const QString reportName = QStringLiteral("包含内容并成功修改的文件目录.txt");

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
    void inPlaceAsksFirst_data();
    void inPlaceAsksFirst();

private:
    QString source() const { return root->filePath(QStringLiteral("源")) + QLatin1Char('/'); }
    template <class T> T *field(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    // Starts a preview of 小云 → 小雨 in place (or a search) and waits for its rows.
    ResultsDialog *preview(bool search);

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

void TestPreview::inPlaceAsksFirst_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("preview");
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QString>("asked");
    const QString insert = QStringLiteral("pBtn_InsertText");
    const QString convert = QStringLiteral("pBtn_ConvertEncoding");
    QTest::newRow("insert previewed, applied") << insert << true << true << QStringLiteral("插入");
    QTest::newRow("insert previewed, no") << insert << true << false << QStringLiteral("插入");
    QTest::newRow("conversion previewed, applied")
        << convert << true << true << QStringLiteral("转换");
    QTest::newRow("conversion previewed, no") << convert << true << false << QStringLiteral("转换");
    QTest::newRow("conversion direct, yes") << convert << false << true << QStringLiteral("转换");
    QTest::newRow("conversion direct, no") << convert << false << false << QStringLiteral("转换");
}

void TestPreview::inPlaceAsksFirst()
{
    QFETCH(QString, button);
    QFETCH(bool, preview);
    QFETCH(bool, yes);
    QFETCH(QString, asked);
    const bool insert = button == QLatin1String("pBtn_InsertText");
    const QString gbkName = QStringLiteral("丙.txt");
    const QByteArray gbk = QTextCodec::codecForName("GBK")->fromUnicode(QStringLiteral("小云\r\n"));
    if (!insert)
        WriteTree(source(), {{gbkName, gbk}});
    field<QPlainTextEdit>("pTEdt_InsertText")->setPlainText(QStringLiteral("序"));
    field<QRadioButton>("rBtn_InsertFront")->setChecked(true);
    field<QCheckBox>("cBox_Preview")->setChecked(preview);

    BoxAnswerer answerer(yes ? QMessageBox::Yes : QMessageBox::No);
    QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
    QPointer<ResultsDialog> results = window->findChild<ResultsDialog *>();
    if (preview) {
        QVERIFY(results);
        QVERIFY(answerer.asked.isEmpty()); // the preview itself asks nothing, writes nothing
        QCOMPARE(ReadTree(source()).value(gbkName), insert ? QByteArray() : gbk);
        if (!insert) {
            // The one file not yet in UTF-8, with the encoding it has.
            QAbstractItemModel *rows = results->findChild<QTableView *>()->model();
            QCOMPARE(rows->rowCount(), 1);
            QCOMPARE(rows->index(0, ResultsDialog::EncodingColumn).data().toString(),
                     QStringLiteral("GBK"));
        }
        QTest::mouseClick(results->findChild<QPushButton *>(QStringLiteral("pBtn_ApplyChecked")),
                          Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window->isRunWorking(), 20000);
        QCOMPARE(results && results->isVisible(), !yes); // a no leaves the view open
    }
    QCOMPARE(answerer.asked, QStringList{asked});
    Tree seen = ReadTree(source());
    seen.remove(reportName);
    Tree expected = Novels();
    if (!insert)
        expected.insert(gbkName, yes ? QByteArray("小云\r\n") : gbk);
    for (auto it = expected.begin(); insert && yes && it != expected.end(); ++it)
        it.value() = "序" + it.value().replace("\n", "\r\n");
    QCOMPARE(seen, expected);
}

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
