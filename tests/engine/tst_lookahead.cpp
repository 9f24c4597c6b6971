#include "engine/run/DecisionPipeline.h"
#include "engine/run/RunBatch.h"
#include "tests/engine/Fixture.h"
#include "tests/engine/RunRecorder.h"

#include <QTest>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

using namespace fixture;

namespace {

// Decides job k as "file size" k, after a pause that makes later jobs overtake earlier ones.
FileDecision SlowDecision(int job, const ReserveMemory & = {})
{
    std::this_thread::sleep_for(std::chrono::microseconds((job * 37) % 5 * 200));
    FileDecision decision;
    decision.outcome.bytes = job;
    return decision;
}

} // namespace

class TestLookAhead : public QObject
{
    Q_OBJECT

private slots:
    void decisionsComeInOrder_data();
    void decisionsComeInOrder();
    void lookAheadIsBounded();
    void leftEarlyWaitsOnlyForJobsInHand();
    void largeFilesOneAtATime_data();
    void largeFilesOneAtATime();
    void memoryWithinBudget_data();
    void memoryWithinBudget();
    void runKeepsOrderAndThread_data();
    void runKeepsOrderAndThread();
    void stopEndsAfterFileInHand();
};

void TestLookAhead::decisionsComeInOrder_data()
{
    QTest::addColumn<int>("jobs");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("fewer than the workers") << 2;
    QTest::newRow("many") << 300;
}

void TestLookAhead::decisionsComeInOrder()
{
    QFETCH(int, jobs);
    DecisionPipeline pipeline(jobs, SlowDecision);
    for (int job = 0; job < jobs; ++job)
        QCOMPARE(pipeline.take().outcome.bytes, qint64(job));
}

// Decisions hold file contents; a slow consumer must not let them pile up.
void TestLookAhead::lookAheadIsBounded()
{
    std::atomic<int> started{0};
    int taken = 0;
    int mostAhead = 0;
    DecisionPipeline pipeline(400, [&](int job, const ReserveMemory &) {
        ++started;
        return SlowDecision(job);
    });
    for (int job = 0; job < 400; ++job) {
        if (job % 50 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        mostAhead = std::max(mostAhead, started.load() - taken);
        pipeline.take();
        ++taken;
    }
    QVERIFY2(mostAhead <= DecisionPipeline::mostAhead(), qPrintable(QString::number(mostAhead)));
    QVERIFY(mostAhead >= 1);
}

void TestLookAhead::leftEarlyWaitsOnlyForJobsInHand()
{
    std::atomic<int> started{0};
    {
        DecisionPipeline pipeline(1000, [&](int job, const ReserveMemory &) {
            ++started;
            return SlowDecision(job);
        });
        pipeline.take();
    }
    QVERIFY2(started <= DecisionPipeline::mostAhead() + 1,
             qPrintable(QString::number(started.load())));
}

void TestLookAhead::largeFilesOneAtATime_data()
{
    QTest::addColumn<double>("need");    // memory a file's decision reserves, of the budget
    QTest::addColumn<double>("written"); // its new contents, held until taken
    QTest::addColumn<int>("jobs");
    QTest::addColumn<int>("largeEvery"); // the jobs between are small files
    QTest::newRow("each over half the budget") << 0.6 << 0.6 << 40 << 1;
    QTest::newRow("each over the budget") << 3.0 << 0.1 << 40 << 1;
    QTest::newRow("fewer jobs than workers") << 3.0 << 0.1 << 2 << 1;
    QTest::newRow("small files between them") << 3.0 << 0.1 << 120 << 3;
}

// Two such files are never decided at the same time, and a file over the budget only once
// the one before it has been taken by the caller, who lags behind on purpose.
void TestLookAhead::largeFilesOneAtATime()
{
    QFETCH(double, need);
    QFETCH(double, written);
    QFETCH(int, jobs);
    QFETCH(int, largeEvery);
    const qint64 budget = 1 << 20;
    std::atomic<int> sequence{0};
    std::atomic<int> underWay{0};
    std::atomic<int> mostUnderWay{0};
    std::vector<int> started(size_t(jobs), -1);
    std::vector<int> takeCalled(size_t(jobs), -1);
    const auto decide = [&](int job, const ReserveMemory &reserve) {
        if (job % largeEvery != 0) {
            reserve(64);
            FileDecision small;
            small.outcome.bytes = job;
            return small;
        }
        reserve(qint64(need * budget));
        started[size_t(job)] = sequence++;
        const int now = ++underWay;
        mostUnderWay = std::max(mostUnderWay.load(), now);
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        FileDecision decision;
        decision.newBytes = QByteArray(int(written * budget), 'x');
        decision.outcome.bytes = job;
        --underWay;
        return decision;
    };
    DecisionPipeline pipeline(jobs, decide, budget);
    for (int job = 0; job < jobs; ++job) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        takeCalled[size_t(job)] = sequence++;
        QCOMPARE(pipeline.take().outcome.bytes, qint64(job));
    }
    QCOMPARE(mostUnderWay.load(), 1);
    for (int job = largeEvery; job < jobs && need > 1; job += largeEvery)
        QVERIFY2(started[size_t(job)] > takeCalled[size_t(job - largeEvery)],
                 qPrintable(QString::number(job)));
}

void TestLookAhead::memoryWithinBudget_data()
{
    QTest::addColumn<double>("first");   // what each decision reserves, of the budget
    QTest::addColumn<double>("then");    // and then, needing more after all (0: never)
    QTest::addColumn<double>("written"); // its new contents, held until the caller is done
    QTest::addColumn<int>("smallEvery"); // a small file every so many jobs (0: none)
    QTest::addColumn<bool>("attached");  // held as an attachment, such as a plan, not as bytes
    QTest::newRow("novels held until their turn") << 0.3 << 0.0 << 0.3 << 0 << false;
    QTest::newRow("among small files") << 0.3 << 0.0 << 0.3 << 3 << false;
    QTest::newRow("a whole file after all") << 0.3 << 0.9 << 0.3 << 0 << false;
    QTest::newRow("over the budget after all") << 0.3 << 2.0 << 0.1 << 0 << false;
    QTest::newRow("plans held until their turn") << 0.3 << 0.0 << 0.3 << 0 << true;
}

// What decisions under way reserve, and what decided ones hold until the caller is done with
// them, stays within the budget, but for the one decision that may always go ahead; one that
// reserves a second time never waits on itself.
void TestLookAhead::memoryWithinBudget()
{
    QFETCH(double, first);
    QFETCH(double, then);
    QFETCH(double, written);
    QFETCH(int, smallEvery);
    QFETCH(bool, attached);
    const qint64 budget = 1 << 20;
    const int jobs = 40;
    std::mutex mutex;
    qint64 inUse = 0;
    qint64 most = 0;
    const auto use = [&](qint64 bytes) {
        const std::lock_guard<std::mutex> lock(mutex);
        inUse += bytes;
        most = std::max(most, inUse);
    };
    const auto decide = [&](int job, const ReserveMemory &reserve) {
        FileDecision decision;
        decision.outcome.bytes = job;
        if (smallEvery > 0 && job % smallEvery == 0)
            return decision;
        const qint64 reserved = qint64(first * budget);
        reserve(reserved);
        use(reserved);
        std::this_thread::sleep_for(std::chrono::microseconds(200 + job % 3 * 300));
        use(-reserved);
        if (then > 0) {
            reserve(qint64(then * budget));
            use(qint64(then * budget));
            use(-qint64(then * budget));
        }
        const qint64 held = qint64(written * budget);
        if (attached)
            decision.attachedBytes = held;
        else
            decision.newBytes = QByteArray(int(held), 'x');
        use(held);
        return decision;
    };
    {
        DecisionPipeline pipeline(jobs, decide, budget);
        qint64 taken = 0;
        for (int job = 0; job < jobs; ++job) {
            std::this_thread::sleep_for(std::chrono::microseconds(500));
            use(-taken); // the caller is done with the decision it took before
            const FileDecision decision = pipeline.take();
            QCOMPARE(decision.outcome.bytes, qint64(job));
            taken = decision.newBytes.size() + decision.attachedBytes;
        }
    }
    const qint64 alone = qint64(std::max({first, then, written}) * budget);
    QVERIFY2(most <= std::max(budget, budget / 2 + alone),
             qPrintable(QString::number(double(most) / budget)));
}

void TestLookAhead::runKeepsOrderAndThread_data()
{
    QTest::addColumn<int>("operation");
    QTest::newRow("find") << int(Operation::FindText);
    QTest::newRow("replace") << int(Operation::ReplaceText);
    QTest::newRow("insert") << int(Operation::InsertText);
}

// Files of every encoding and size, some matching: every observer call comes from the
// thread that called the run, in scan order, and the found list is the decoded search's.
void TestLookAhead::runKeepsOrderAndThread()
{
    QFETCH(int, operation);
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    QStringList expectedShown;
    QStringList expectedFound;
    for (int i = 0; i < 60; ++i) {
        const bool hit = i % 3 == 0;
        const QString text = QStringLiteral("第%1章\r\n").arg(i).repeated(1 + i * 37 % 200) +
                             (hit ? QStringLiteral("小云") : QStringLiteral("小吉"));
        const QByteArray bytes = i % 4 == 0   ? Gbk(text)
                                 : i % 4 == 1 ? Utf8(text)
                                 : i % 4 == 2 ? Bom() + Utf8(text)
                                              : Utf16(text, i % 8 == 3);
        const QString path = src + QStringLiteral("/d%1/f%2.txt").arg(i / 10).arg(i % 10);
        QVERIFY(WriteBytes(path, bytes));
        expectedShown += QDir::toNativeSeparators(path);
        if (hit || Operation(operation) == Operation::InsertText)
            expectedFound += QDir::toNativeSeparators(path);
    }
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveDir = temp.filePath(QStringLiteral("out"));
    settings.detectUtf16 = true;
    settings.searchTerms = settings.findText = QStringLiteral("小云");
    settings.replaceText = QStringLiteral("阿云");
    settings.insertText = QStringLiteral("序");
    RunRecorder recorder;
    RunObserver observer = recorder.observer();
    const std::thread::id caller = std::this_thread::get_id();
    int otherThread = 0;
    observer.fileHandled = [&](qint64) { otherThread += std::this_thread::get_id() != caller; };
    const RunResult result = RunBatch(Operation(operation), settings, observer);
    QCOMPARE(otherThread, 0);
    QCOMPARE(recorder.shown.mid(0, 60), expectedShown);
    QCOMPARE(recorder.found, expectedFound);
    QCOMPARE(result.failed, 0);
}

// Writing is the ordered part: files decided ahead of a stop are never written.
void TestLookAhead::stopEndsAfterFileInHand()
{
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("src"));
    for (int i = 0; i < 40; ++i)
        QVERIFY(WriteBytes(src + QStringLiteral("/f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x"));
    BatchSettings settings;
    settings.sourceDir = src;
    settings.saveDir = temp.filePath(QStringLiteral("out"));
    settings.insertText = QStringLiteral("I");
    std::atomic_bool stop{false};
    RunOptions options;
    options.stop = &stop;
    options.writeReports = false;
    int handled = 0;
    RunObserver observer;
    observer.fileHandled = [&](qint64) { stop = ++handled == 5; };
    const RunResult result = RunBatch(Operation::InsertText, settings, observer, options);
    QVERIFY(result.stopped);
    QCOMPARE(result.changed, 5);
    QCOMPARE(TreeListing(settings.saveDir),
             Names({"f00.txt", "f01.txt", "f02.txt", "f03.txt", "f04.txt"}));
}

QTEST_GUILESS_MAIN(TestLookAhead)
#include "tst_lookahead.moc"
