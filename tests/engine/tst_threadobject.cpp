#include "engine/batch/BatchSettings.h"
#include "engine/journal/Journal.h"
#include "engine/report/ReportViewer.h"
#include "engine/worker/ThreadObject.h"
#include "tests/engine/Fixture.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

using namespace fixture;

class TestThreadObject : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void slotsRunTheirOperation_data();
    void slotsRunTheirOperation();
    void runKeepsItsOwnSettings();
    void refusalReachesTheWindow();
    void unwrittenReportReachesTheWindow();
    void droppedJournalRunReachesTheWindow();
    void runsOnWorkerThread();
    void reportOpensInNotepad();

private:
    QTemporaryDir temp;
    QString src;
};

void TestThreadObject::init()
{
    QVERIFY(temp.isValid());
    src = temp.filePath(QStringLiteral("src"));
    QDir(src).removeRecursively();
    QVERIFY(WriteBytes(src + QStringLiteral("/a.txt"), "小云"));
    QVERIFY(WriteBytes(src + QStringLiteral("/b.txt"), "小吉"));
    batchSettings = BatchSettings();
    batchSettings.sourceDir = src + QLatin1Char('/');
    batchSettings.saveInSource = true;
    SetReportPaths(batchSettings);
}

void TestThreadObject::slotsRunTheirOperation_data()
{
    QTest::addColumn<QString>("slot");
    QTest::addColumn<QByteArray>("a"); // a.txt afterwards
    QTest::newRow("ReplaceExcelText") << QStringLiteral("ReplaceExcelText") << QByteArray("Y");
    QTest::newRow("ReplaceExcelText_2") << QStringLiteral("ReplaceExcelText_2") << QByteArray("P");
    QTest::newRow("InsertText") << QStringLiteral("InsertText") << QByteArray("I小云");
    QTest::newRow("JustFindText") << QStringLiteral("JustFindText") << QByteArray("小云");
}

void TestThreadObject::slotsRunTheirOperation()
{
    QFETCH(QString, slot);
    QFETCH(QByteArray, a);
    batchSettings.findText = QStringLiteral("小云");
    batchSettings.replaceText = QStringLiteral("Y");
    batchSettings.findLines = Names({"小云"});
    batchSettings.replaceLines = Names({"P"});
    batchSettings.insertText = QStringLiteral("I");
    batchSettings.searchTerms = QStringLiteral("小云");
    ThreadObject worker;
    QStringList opened;
    worker.setReportOpener([&](const QString &path) { opened += path; });
    QSignalSpy shown(&worker, &ThreadObject::ShowDisposingFile);
    QSignalSpy enabled(&worker, &ThreadObject::Set_pBtn_Enable);
    QSignalSpy done(&worker, &ThreadObject::runDone);
    QSignalSpy changed(&worker, &ThreadObject::progressChanged);
    QVERIFY(QMetaObject::invokeMethod(&worker, slot.toLatin1().constData(), Qt::DirectConnection));
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), a);
    // Only the last word comes at once; the files in hand wait to be taken. After pairs, the
    // line grows by how often each pair replaced.
    const bool pairs = slot == QLatin1String("ReplaceExcelText_2");
    QCOMPARE(shown.count(), pairs ? 2 : 1);
    const QString statistics = shown.at(0).at(0).toString();
    QVERIFY(statistics.startsWith(QStringLiteral("扫描文件2个,")));
    // Then where each rule's hits were written, a report named rather than opened.
    if (pairs)
        QCOMPARE(shown.at(1).at(0).toString(),
                 statistics + QStringLiteral("\n各组替换次数:第1组1次\n每条规则的命中次数:") +
                     QDir::toNativeSeparators(batchSettings.sourceDir + reportRuleHitsName));
    // Nobody took the progress, so however many files went by it was announced once.
    QCOMPARE(changed.count(), 1);
    const RunProgress progress = worker.takeProgress();
    QCOMPARE(progress.text, statistics);
    QCOMPARE(progress.done, 2);
    QCOMPARE(progress.total, 2);
    QCOMPARE(enabled.count(), 1);
    QCOMPARE(done.count(), 1);
    QCOMPARE(opened, QStringList{batchSettings.reportMatchedPath});
}

// The status line says when the journal dropped its oldest run to make room.
void TestThreadObject::droppedJournalRunReachesTheWindow()
{
    batchSettings.insertText = QStringLiteral("I");
    ThreadObject worker;
    for (int run = 1; run <= journalKeptRuns + 1; ++run) {
        QSignalSpy shown(&worker, &ThreadObject::ShowDisposingFile);
        worker.InsertText();
        const QString last = shown.last().at(0).toString();
        QVERIFY(last.startsWith(QStringLiteral("扫描文件")));
        QCOMPARE(last.contains(QStringLiteral("\n撤销记录最多保留10次修改")),
                 run > journalKeptRuns);
    }
}

// A launch that rewrites the shared record while a run works must not reach that run.
void TestThreadObject::runKeepsItsOwnSettings()
{
    batchSettings.insertText = QStringLiteral("1");
    ThreadObject worker;
    // Taking the progress each time makes it announce every step of the run.
    connect(
        &worker, &ThreadObject::progressChanged, this,
        [&worker] {
            worker.takeProgress();
            batchSettings.insertText = QStringLiteral("2");
        },
        Qt::DirectConnection);
    worker.InsertText();
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), QByteArray("1小云"));
    QCOMPARE(ReadBytes(src + QStringLiteral("/b.txt")), QByteArray("1小吉"));
}

void TestThreadObject::refusalReachesTheWindow()
{
    batchSettings.saveInSource = false;
    batchSettings.saveDir = batchSettings.sourceDir;
    batchSettings.insertText = QStringLiteral("X");
    ThreadObject worker;
    QSignalSpy shown(&worker, &ThreadObject::ShowDisposingFile);
    QSignalSpy enabled(&worker, &ThreadObject::Set_pBtn_Enable);
    worker.InsertText();
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).toString(),
             QStringLiteral("保存文件夹不能与源文件夹相同,如需覆盖原文件请勾选保存在原文件夹!"));
    QCOMPARE(enabled.count(), 1);
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), QByteArray("小云"));
}

void TestThreadObject::unwrittenReportReachesTheWindow()
{
    batchSettings.searchTerms = QStringLiteral("小云");
    QVERIFY(QDir().mkpath(batchSettings.reportMatchedPath)); // no file can go there
    ThreadObject worker;
    QSignalSpy shown(&worker, &ThreadObject::ShowDisposingFile);
    worker.JustFindText();
    QCOMPARE(shown.count(), 2); // the statistics line, and once more with the note
    const QString statistics = shown.at(0).at(0).toString();
    QVERIFY(statistics.startsWith(QStringLiteral("扫描文件")));
    QCOMPARE(shown.at(1).at(0).toString(), statistics + QStringLiteral("报告文件无法写入!"));
}

void TestThreadObject::runsOnWorkerThread()
{
    batchSettings.searchTerms = QStringLiteral("小");
    QThread thread;
    auto *worker = new ThreadObject;
    worker->moveToThread(&thread);
    connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
    QStringList opened;
    worker->setReportOpener([&](const QString &path) { opened += path; });
    worker->requestStop(); // before the run: it stops at once and still ends cleanly
    QSignalSpy shown(worker, &ThreadObject::ShowDisposingFile);
    QSignalSpy enabled(worker, &ThreadObject::Set_pBtn_Enable);
    QSignalSpy done(worker, &ThreadObject::runDone);
    thread.start();
    QMetaObject::invokeMethod(worker, &ThreadObject::JustFindText, Qt::QueuedConnection);
    // The spy hears the worker's thread directly, maybe before a wait() could start.
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000);
    QCOMPARE(shown.count(), 1);
    QVERIFY(shown.at(0).at(0).toString().startsWith(QStringLiteral("扫描文件0个,")));
    QMetaObject::invokeMethod(worker, &ThreadObject::JustFindText, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 2, 5000);
    QCOMPARE(shown.count(), 2);
    QVERIFY(shown.at(1).at(0).toString().startsWith(QStringLiteral("扫描文件2个,")));
    QCOMPARE(enabled.count(), 2);
    QCOMPARE(opened, QStringList{batchSettings.reportMatchedPath});
    thread.quit();
    QVERIFY(thread.wait(5000));
}

// Notepad gets the written report's native path: with backslashes on Windows.
void TestThreadObject::reportOpensInNotepad()
{
    batchSettings.searchTerms = QStringLiteral("小云");
    ThreadObject worker;
    QList<QStringList> started;
    worker.setReportOpener(NotepadOpener([&](const QString &program, const QStringList &arguments) {
        started += QStringList{program} + arguments;
        return true;
    }));
    worker.JustFindText();
    const QString report = QDir::toNativeSeparators(batchSettings.reportMatchedPath);
    const QList<QStringList> expected{{QStringLiteral("notepad.exe"), report}};
    QCOMPARE(started, expected);
    QVERIFY(QFileInfo(report).isFile());
#ifdef Q_OS_WIN
    QVERIFY(!report.contains(QLatin1Char('/')));
#endif
}

QTEST_GUILESS_MAIN(TestThreadObject)
#include "tst_threadobject.moc"
