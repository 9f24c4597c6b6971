#include "tests/cli/CliFixture.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <utility>

namespace {

QProcessEnvironment Environment(const QStringList &settings)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    // A sanitizer runtime wants to come first; the shim is harmless before it.
    environment.insert(QStringLiteral("ASAN_OPTIONS"),
                       environment.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
    for (const QString &setting : settings)
        environment.insert(setting.section(QLatin1Char('='), 0, 0),
                           setting.section(QLatin1Char('='), 1));
    return environment;
}

CliResult Run(const QStringList &arguments, const QStringList &settings = {})
{
    QProcess process;
    process.setProcessEnvironment(Environment(settings));
    process.start(CliPath(), arguments);
    return FinishCli(process);
}

// Temporary files the writes may have left anywhere below root.
QStringList Leftovers(const QString &root)
{
    QStringList found;
    QDirIterator it(root, {QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found += it.next();
    return found;
}

QByteArray Chapter(int number, const QString &name)
{
    return QStringLiteral("第%1章 %2上山。\r\n").arg(number).arg(name).repeated(40).toUtf8();
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void shortAndInterruptedReads_data();
    void shortAndInterruptedReads();
    void failedWrites_data();
    void failedWrites();
    void killedRuns();
    void twoRunsAtOnce();
    void fewOpenFilesAllowed();
};

void TestFaults::shortAndInterruptedReads_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QByteArray>("given"); // the fault the shim must report having given
    QTest::addColumn<bool>("edited");
    QTest::newRow("64 KiB a read")
        << QStringLiteral("PARAFOLD_SHIM_READ_MAX=65536") << QByteArray("short") << true;
    QTest::newRow("7 bytes a read")
        << QStringLiteral("PARAFOLD_SHIM_READ_MAX=7") << QByteArray("short") << true;
    QTest::newRow("interrupted") << QStringLiteral("PARAFOLD_SHIM_EINTR=1") << QByteArray("eintr")
                                 << true;
    QTest::newRow("ends before its size")
        << QStringLiteral("PARAFOLD_SHIM_READ_END=100000") << QByteArray("end") << false;
}

// A read that gives less than asked is not the end of the file, and a file that ends before
// the size it had is not written back cut off.
void TestFaults::shortAndInterruptedReads()
{
    QFETCH(QString, setting);
    QFETCH(QByteArray, given);
    QFETCH(bool, edited);
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("s"));
    QByteArray large;
    for (int i = 0; large.size() < 200000; ++i)
        large += Chapter(i, QStringLiteral("小云"));
    WriteBytes(src, QStringLiteral("a.txt"), large);
    WriteBytes(src, QStringLiteral("b.txt"), "small");
    const QString log = temp.filePath(QStringLiteral("shim.log"));
    const CliResult result = Run({QStringLiteral("insert"), src, QStringLiteral("--text"),
                                  QStringLiteral("P "), QStringLiteral("--in-place")},
                                 {QStringLiteral("LD_PRELOAD=") + QString::fromUtf8(PARAFOLD_SHIM),
                                  QStringLiteral("PARAFOLD_SHIM_LOG=") + log, setting});
    QVERIFY2(!ReadBytes(log).contains(given + " 0\n"), ReadBytes(log).constData());
    QCOMPARE(ReadBytes(src + QStringLiteral("/a.txt")), edited ? "P " + large : large);
    QCOMPARE(ReadBytes(src + QStringLiteral("/b.txt")), QByteArray("P small"));
    QCOMPARE(result.exitCode, edited ? 0 : 2);
    QCOMPARE(result.err.contains("a.txt\t文件在处理期间被修改"), !edited);
}

void TestFaults::failedWrites_data()
{
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("in place") << true;
    QTest::newRow("into a save folder") << false;
}

// RLIMIT_FSIZE cuts the writing of one large file short, as a full disk would: that file is
// listed with the system's reason and left as it was, the others are written.
void TestFaults::failedWrites()
{
    QFETCH(bool, inPlace);
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("s"));
    const QString out = temp.filePath(QStringLiteral("o"));
    QVERIFY(QDir().mkpath(out));
    QByteArray large;
    for (int i = 0; large.size() < 300000; ++i)
        large += Chapter(i, QStringLiteral("小云"));
    WriteBytes(src, QStringLiteral("large.txt"), large);
    WriteBytes(src, QStringLiteral("small.txt"), Chapter(1, QStringLiteral("小云")));
    QStringList arguments = {QStringLiteral("replace"),   src,
                             QStringLiteral("--find"),    QStringLiteral("小云"),
                             QStringLiteral("--replace"), QStringLiteral("小吉")};
    arguments += inPlace ? QStringList{QStringLiteral("--in-place")}
                         : QStringList{QStringLiteral("--save-dir"), out};

    // The child inherits both: the limit, and a write past it failing rather than a signal.
    struct rlimit old = {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit limited = old;
    limited.rlim_cur = 100000;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    const CliResult result = Run(arguments);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);

    QCOMPARE(result.exitCode, 2);
    // The system's words in the locale both this test and the child run under.
    QVERIFY2(result.err.contains("large.txt\t无法写入目标文件 (" +
                                 QByteArray(std::strerror(EFBIG)) + ')'),
             result.err.constData());
    QCOMPARE(ReadBytes(src + QStringLiteral("/large.txt")), large);
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/large.txt")));
    const QString small = (inPlace ? src : out) + QStringLiteral("/small.txt");
    QCOMPARE(ReadBytes(small), Chapter(1, QStringLiteral("小吉")));
    QCOMPARE(Leftovers(temp.path()), QStringList());
}

// parafold-cli killed at moments spread over in-place runs across a few thousand files,
// which swap a name back and forth: every file holds one whole version or the other.
void TestFaults::killedRuns()
{
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("s"));
    const int files = 3000;
    const QStringList names = {QStringLiteral("小云"), QStringLiteral("小吉")};
    for (int i = 0; i < files; ++i)
        WriteBytes(src, QStringLiteral("d%1/f%2.txt").arg(i / 100).arg(i), Chapter(i, names[0]));
    const auto arguments = [&](int run) {
        return QStringList{QStringLiteral("replace"),   src,
                           QStringLiteral("--find"),    names[run % 2],
                           QStringLiteral("--replace"), names[(run + 1) % 2],
                           QStringLiteral("--in-place")};
    };
    // How many files hold the first version and how many the second; -1 for a torn file.
    const auto tally = [&] {
        std::pair<int, int> versions{0, 0};
        for (int i = 0; i < files; ++i) {
            const QByteArray bytes =
                ReadBytes(src + QStringLiteral("/d%1/f%2.txt").arg(i / 100).arg(i));
            if (bytes == Chapter(i, names[0]))
                ++versions.first;
            else if (bytes == Chapter(i, names[1]))
                ++versions.second;
            else
                return std::pair<int, int>{-1, i};
        }
        return versions;
    };

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(Run(arguments(0)).exitCode, 0);
    const qint64 fullRun = timer.elapsed();
    QCOMPARE(tally(), std::make_pair(0, files));

    const int kills = 20;
    int cutShort = 0;
    QSet<QString> leftBehind;
    for (int run = 1; run <= kills; ++run) {
        QProcess process;
        process.setProcessEnvironment(Environment({}));
        process.start(CliPath(), arguments(run));
        QVERIFY(process.waitForStarted());
        // Moments from a tenth of a full run to nearly its end, in a scattered order; at most
        // the first seconds of a slow (sanitizer) build's run, to keep the test short.
        const qint64 span = std::min<qint64>(fullRun, 1500);
        QThread::msleep(quint64(span * (10 + (run * 7) % 20 * 4) / 100));
        process.kill();
        QVERIFY(process.waitForFinished());
        const auto [first, second] = tally();
        QVERIFY2(first >= 0, qPrintable(QStringLiteral("file %1 is torn").arg(second)));
        cutShort += first > 0 && second > 0;
        for (const QString &leftover : Leftovers(src))
            leftBehind.insert(leftover);
    }
    // A kill between naming a new content and its rename leaves it behind; the next run
    // removes it.
    QCOMPARE(Run(arguments(kills + 1)).exitCode, 0);
    QVERIFY(tally().first >= 0);
    QCOMPARE(Leftovers(src), QStringList());
    qInfo("%d kills over runs of %lld ms: %d left both versions side by side, %d temporary "
          "files were left behind and removed by the next run",
          kills, fullRun, cutShort, int(leftBehind.size()));
    QVERIFY(cutShort > 0);
}

// Two runs over the same files at once: the run lock turns the later one away whole, or, where
// they still meet, a file may lack one run's edit only when that run lists it as failed.
void TestFaults::twoRunsAtOnce()
{
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("s"));
    const int files = 1000;
    for (int i = 0; i < files; ++i)
        WriteBytes(src, QStringLiteral("d%1/f%2.txt").arg(i / 100).arg(i),
                   Chapter(i, QStringLiteral("小云")));
    QProcess replace;
    QProcess insert;
    replace.setProcessEnvironment(Environment({}));
    insert.setProcessEnvironment(Environment({}));
    // One waits for the other's turn on the tree: a list nobody reads would stop the first.
    replace.setStandardOutputFile(QProcess::nullDevice());
    insert.setStandardOutputFile(QProcess::nullDevice());
    replace.start(CliPath(), {QStringLiteral("replace"), src, QStringLiteral("--find"),
                              QStringLiteral("小云"), QStringLiteral("--replace"),
                              QStringLiteral("小吉"), QStringLiteral("--in-place")});
    insert.start(CliPath(), {QStringLiteral("insert"), src, QStringLiteral("--text"),
                             QStringLiteral("P "), QStringLiteral("--in-place")});
    QVERIFY(replace.waitForFinished(120000) && insert.waitForFinished(120000));
    const QByteArray replaceFailed = replace.readAllStandardError();
    const QByteArray insertFailed = insert.readAllStandardError();
    const QByteArray busy = QStringLiteral("正在处理中,请等待当前操作完成!").toUtf8();
    const bool replaceRefused = replace.exitCode() == 2 && replaceFailed.contains(busy);
    const bool insertRefused = insert.exitCode() == 2 && insertFailed.contains(busy);
    QVERIFY(!(replaceRefused && insertRefused));
    for (int i = 0; i < files; ++i) {
        const QString path = src + QStringLiteral("/d%1/f%2.txt").arg(i / 100).arg(i);
        const QByteArray bytes = ReadBytes(path);
        const QByteArray listed = path.toUtf8() + '\t';
        if (replaceRefused)
            QVERIFY2(bytes.contains("小云"), qPrintable(path));
        else
            QVERIFY2(!bytes.contains("小云") || replaceFailed.contains(listed), qPrintable(path));
        if (insertRefused)
            QVERIFY2(!bytes.startsWith("P "), qPrintable(path));
        else
            QVERIFY2(bytes.startsWith("P ") || insertFailed.contains(listed), qPrintable(path));
    }
}

QTEST_GUILESS_MAIN(TestFaults)
// Under a hard limit of open files lower than a run would hold with every file it writes ahead
// and every group it flushes aside, the run holds fewer and still writes every file.
void TestFaults::fewOpenFilesAllowed()
{
    QTemporaryDir temp;
    const QString src = temp.filePath(QStringLiteral("s"));
    const int files = 600;
    for (int i = 0; i < files; ++i)
        WriteBytes(src, QStringLiteral("%1.txt").arg(i), Chapter(i, QStringLiteral("小云")));
    QProcess process;
    process.setProcessEnvironment(Environment({}));
    process.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"), QStringLiteral("ulimit -n 200 && exec \"$0\" \"$@\""),
                   CliPath(), QStringLiteral("replace"), src, QStringLiteral("--find"),
                   QStringLiteral("小云"), QStringLiteral("--replace"), QStringLiteral("小吉"),
                   QStringLiteral("--in-place"), QStringLiteral("-q")});
    const CliResult result = FinishCli(process);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    for (int i = 0; i < files; ++i)
        QCOMPARE(ReadBytes(src + QStringLiteral("/%1.txt").arg(i)),
                 Chapter(i, QStringLiteral("小吉")));
    QCOMPARE(Leftovers(temp.path()), QStringList());
}

#include "tst_faults.moc"
