#include "tests/cli/CliFixture.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The order of a real run's system calls, as strace records them: a file is renamed into
// place only after a flush that follows its last write and every journal entry and kept
// original of its group, so a power cut leaves it old or new and restorable.
class CliDurable : public QObject
{
    Q_OBJECT

private slots:
    void renamesFollowTheirFlush_data();
    void renamesFollowTheirFlush();
};

#ifndef Q_OS_WIN // strace, which the test reads, is Linux only
namespace {

struct Order
{
    QStringList misordered; // renames that came before their flush
    int renames = 0;
};

// Reads the trace line by line; a call cut in two by another thread's counts where it ends.
Order CheckOrder(const QByteArray &trace)
{
    static const QRegularExpression head(QStringLiteral("^(\\d+)\\s+(.*)$"));
    static const QRegularExpression resumed(QStringLiteral("^<\\.\\.\\. (\\w+) resumed>(.*)$"));
    static const QRegularExpression openTemporary(
        QStringLiteral("^openat\\([^,]+, \"(\\.parafold-[^\"]+\\.tmp)\", [^)]*\\)\\s+= (\\d+)"));
    static const QRegularExpression write(
        QStringLiteral("^p?write(?:64)?\\((\\d+),.*\\)\\s+= \\d+"));
    static const QRegularExpression link(QStringLiteral("^linkat\\(.*\\)\\s+= 0"));
    static const QRegularExpression openEntries(
        QStringLiteral("^openat\\([^,]+, \"entries\\.tsv\", [^)]*\\)\\s+= (\\d+)"));
    static const QRegularExpression flush(
        QStringLiteral("^(?:syncfs|fsync|fdatasync|sync)\\(.*\\)\\s+= 0"));
    static const QRegularExpression rename(QStringLiteral(
        "^rename(?:at2?)?\\((?:[^,]+, )?\"(\\.parafold-[^\"]+\\.tmp)\", (?:[^,]+, )?\"([^\"]+)\""
        ".*\\)\\s+= 0"));
    QHash<QString, QString> started; // by thread: a call not yet finished
    QHash<QString, QString> temporaryOfFd;
    QString entriesFd;             // the journal's entry list, appended to
    QHash<QString, int> lastWrite; // by temporary
    int lastJournal = -1;          // the last entry written or original kept
    int lastFlush = -1;
    Order order;
    const QList<QByteArray> lines = trace.split('\n');
    for (int at = 0; at < lines.size(); ++at) {
        const QRegularExpressionMatch line = head.match(QString::fromUtf8(lines.at(at)));
        if (!line.hasMatch())
            continue;
        const QString thread = line.captured(1);
        QString call = line.captured(2);
        if (call.endsWith(QLatin1String(" <unfinished ...>"))) {
            started.insert(thread, call.left(call.size() - 17));
            continue;
        }
        const QRegularExpressionMatch rest = resumed.match(call);
        if (rest.hasMatch())
            call = started.take(thread) + rest.captured(2);
        QRegularExpressionMatch match;
        if ((match = openTemporary.match(call)).hasMatch()) {
            temporaryOfFd.insert(match.captured(2), match.captured(1));
        } else if ((match = openEntries.match(call)).hasMatch()) {
            entriesFd = match.captured(1);
        } else if ((match = write.match(call)).hasMatch()) {
            const QString temporary = temporaryOfFd.value(match.captured(1));
            if (!temporary.isEmpty())
                lastWrite.insert(temporary, at);
            if (match.captured(1) == entriesFd)
                lastJournal = at;
        } else if (link.match(call).hasMatch()) {
            // An original kept by a link.
            lastJournal = at;
        } else if (flush.match(call).hasMatch()) {
            lastFlush = at;
        } else if ((match = rename.match(call)).hasMatch() &&
                   match.captured(2).endsWith(QLatin1String(".txt"))) {
            ++order.renames;
            const int written = lastWrite.value(match.captured(1), -1);
            if (lastFlush < written || lastFlush < lastJournal)
                order.misordered << match.captured(2);
        }
    }
    return order;
}

} // namespace
#endif

void CliDurable::renamesFollowTheirFlush_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("inPlace");
    QTest::newRow("in place, journal") << QStringList{QStringLiteral("--in-place")} << true;
    QTest::newRow("in place, no journal")
        << QStringList{QStringLiteral("--in-place"), QStringLiteral("--no-journal")} << true;
    QTest::newRow("save folder") << QStringList{QStringLiteral("--save-dir")} << false;
}

void CliDurable::renamesFollowTheirFlush()
{
#ifdef Q_OS_WIN
    QSKIP("strace records system calls on Linux only");
#else
    QFETCH(QStringList, options);
    QFETCH(bool, inPlace);
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("source"));
    const int files = 20;
    for (int i = 0; i < files; ++i)
        WriteBytes(source, QStringLiteral("%1/f%2.txt").arg(i % 3).arg(i),
                   Utf8("小云 ") + QByteArray::number(i) + '\n');
    if (!inPlace) {
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("saved"))));
        options << dir.filePath(QStringLiteral("saved"));
    }
    const QString trace = dir.filePath(QStringLiteral("trace"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("zh_CN.UTF-8"));
    // LeakSanitizer stops the process with ptrace at its exit, which strace already holds.
    environment.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(environment);
    process.start(
        strace,
        QStringList{QStringLiteral("-f"), QStringLiteral("-o"), trace, QStringLiteral("-e"),
                    QStringLiteral("trace=openat,write,pwrite64,linkat,renameat,"
                                   "renameat2,rename,syncfs,fsync,fdatasync,sync"),
                    CliPath(), QStringLiteral("replace"), source, QStringLiteral("--find"),
                    QStringLiteral("小云"), QStringLiteral("--replace"), QStringLiteral("小雲")} +
            options);
    const CliResult result = FinishCli(process);
    QFile traced(trace);
    if (!traced.open(QIODevice::ReadOnly) || traced.size() == 0)
        QSKIP("strace cannot trace here (no ptrace)");
    QCOMPARE(result.exitCode, 0);
    const Order order = CheckOrder(traced.readAll());
    QCOMPARE(order.renames, files);
    QVERIFY2(order.misordered.isEmpty(), qPrintable(QStringLiteral("renamed before their flush: ") +
                                                    order.misordered.join(QStringLiteral(", "))));
#endif
}

QTEST_GUILESS_MAIN(CliDurable)
#include "tst_cli_durable.moc"
