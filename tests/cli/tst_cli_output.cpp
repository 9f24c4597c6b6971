// parafold-cli's streams: help, a reader that goes away, and the progress line that only
// a terminal gets.

#include "CliFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

class CliOutput : public QObject
{
    Q_OBJECT

private slots:
    void helpAndVersion_data();
    void helpAndVersion();
    void closedStdout_data();
    void closedStdout();
    void progressOnlyOnTerminal_data();
    void progressOnlyOnTerminal();
};

void CliOutput::helpAndVersion_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("mustContain");

    const QStringList help{QStringLiteral("parafold-cli replace "),
                           QStringLiteral("parafold-cli replace-pairs "),
                           QStringLiteral("parafold-cli insert "),
                           QStringLiteral("parafold-cli find "),
                           QStringLiteral("--dry-run"),
                           QStringLiteral("--quiet"),
                           QStringLiteral("Exit status")};
    QTest::newRow("--help") << QStringList{QStringLiteral("--help")} << help;
    QTest::newRow("-h after a command")
        << QStringList{QStringLiteral("find"), QStringLiteral("-h")} << help;
    QTest::newRow("--help wins over a missing source")
        << QStringList{QStringLiteral("replace"), QStringLiteral("--help")} << help;
    QTest::newRow("--version") << QStringList{QStringLiteral("--version")}
                               << QStringList{QStringLiteral("parafold-cli 3.0\n")};
}

void CliOutput::helpAndVersion()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, mustContain);

    const CliResult cli = RunCli(arguments);
    QCOMPARE(cli.exitCode, 0);
    QCOMPARE(cli.err, QByteArray());
    const QString out = QString::fromUtf8(cli.out);
    for (const QString &text : mustContain)
        QVERIFY2(out.contains(text), qPrintable(text));
}

void CliOutput::closedStdout_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("allFilesChanged");

    QTest::newRow("find stops") << QStringList{QStringLiteral("find"), QStringLiteral("@SRC"),
                                               QStringLiteral("--terms"), QStringLiteral("小云")}
                                << false;
    QTest::newRow("an edit finishes its files")
        << QStringList{QStringLiteral("insert"), QStringLiteral("@SRC"), QStringLiteral("--text"),
                       QStringLiteral("小云"), QStringLiteral("--in-place")}
        << true;
}

void CliOutput::closedStdout()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, allFilesChanged);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const int files = 3000;
    for (int i = 0; i < files; ++i)
        WriteBytes(root.path(), QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i), Utf8("小云\n"));
    arguments.replaceInStrings(QStringLiteral("@SRC"), root.filePath(QStringLiteral("src")));

    // The reader takes the first line and goes away, as `| head -1` does.
    QProcess process;
    process.start(CliPath(), arguments);
    QVERIFY(process.waitForStarted());
    QVERIFY(process.waitForReadyRead(60000));
    process.closeReadChannel(QProcess::StandardOutput);
    QVERIFY(process.waitForFinished(120000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    if (allFilesChanged) {
        for (int i = 0; i < files; ++i) {
            const QString path = root.filePath(QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i));
            QCOMPARE(ReadBytes(path), Utf8("小云小云\r\n"));
        }
    }
}

void CliOutput::progressOnlyOnTerminal_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("progress") << false;
    QTest::newRow("quiet: no progress, no statistics") << true;
}

void CliOutput::progressOnlyOnTerminal()
{
    QFETCH(bool, quiet);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    for (int i = 0; i < 200; ++i)
        WriteBytes(root.path(), QStringLiteral("src/%1.txt").arg(i), Utf8("小云小吉\n"));

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const QString terminal = QString::fromLocal8Bit(::ptsname(master));

    QProcess process;
    process.setStandardErrorFile(terminal);
    QStringList arguments{QStringLiteral("find"), root.filePath(QStringLiteral("src")),
                          QStringLiteral("--terms"), QStringLiteral("小云||小吉")};
    if (quiet)
        arguments << QStringLiteral("--quiet");
    process.start(CliPath(), arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray out = process.readAllStandardOutput();
    QCOMPARE(SplitList(out, '\n').size(), 200);
    QVERIFY(!out.contains('\x1b'));

    QByteArray seen;
    char buffer[4096];
    pollfd ready{master, POLLIN, 0};
    while (::poll(&ready, 1, 200) > 0 && (ready.revents & POLLIN)) {
        const ssize_t got = ::read(master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        seen.append(buffer, int(got));
    }
    ::close(master);

    if (quiet) {
        QCOMPARE(seen, QByteArray());
        return;
    }
    // The bar was drawn in place and erased before the statistics line.
    const QByteArray erase("\r\x1b[K");
    QVERIFY2(seen.startsWith('\r'), seen.constData());
    QVERIFY2(seen.contains("/200 "), seen.constData());
    const int lastErase = seen.lastIndexOf(erase);
    QVERIFY(lastErase >= 0);
    const QString tail = QString::fromUtf8(seen.mid(lastErase + erase.size()));
    QVERIFY2(tail.startsWith(
                 QStringLiteral("扫描文件200个,查找符合类型文件200个,包含查找内容文件200个,")),
             qPrintable(tail));
    QVERIFY(tail.endsWith(QLatin1String("\r\n"))); // the terminal turns "\n" into CR LF
    QCOMPARE(tail.count(QLatin1Char('\n')), 1);
}

QTEST_GUILESS_MAIN(CliOutput)
#include "tst_cli_output.moc"
