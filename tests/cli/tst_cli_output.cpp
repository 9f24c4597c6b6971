// parafold-cli's streams: help, a reader that goes away, and the progress line that only
// a terminal gets.

#include "tests/cli/CliFixture.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#ifdef Q_OS_WIN
#include <QDir>
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace {

struct ShortReaderRun
{
    int exitCode = -1;
    QByteArray err;
};

// Runs parafold-cli with its stdout into a pipe whose reader takes the first line and goes
// away; the exit status is parafold-cli's.
ShortReaderRun RunIntoShortReader(const QStringList &arguments)
{
    ShortReaderRun run;
#ifdef Q_OS_WIN
    // QProcess keeps reading a channel it was told to close, so the pipe is made here.
    QTemporaryDir folder;
    const QString errPath = QDir::toNativeSeparators(folder.filePath(QStringLiteral("err")));
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0))
        return run;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const HANDLE err =
        CreateFileW(reinterpret_cast<const wchar_t *>(errPath.utf16()), GENERIC_WRITE,
                    FILE_SHARE_READ, &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = err;
    QString commandLine = QLatin1Char('"') + QDir::toNativeSeparators(CliPath()) + QLatin1Char('"');
    for (const QString &argument : arguments)
        commandLine += QStringLiteral(" \"") + argument + QLatin1Char('"');
    PROCESS_INFORMATION process = {};
    const bool started =
        CreateProcessW(nullptr, reinterpret_cast<wchar_t *>(commandLine.data()), nullptr, nullptr,
                       TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(writeEnd);
    CloseHandle(err);
    if (started) {
        char c = 0;
        DWORD got = 0;
        while (ReadFile(readEnd, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
        }
        CloseHandle(readEnd);
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, 120000) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &exitCode)) {
            run.exitCode = static_cast<int>(exitCode);
        } else {
            // Left running, it would hold the run lock against the tests after it.
            TerminateProcess(process.hProcess, 1);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        CloseHandle(readEnd);
    }
    run.err = ReadBytes(folder.filePath(QStringLiteral("err")));
#else
    // 141 if a SIGPIPE killed it.
    QProcess shell;
    shell.start(QStringLiteral("/bin/bash"),
                QStringList{QStringLiteral("-c"),
                            QStringLiteral("\"$0\" \"$@\" | head -n 1 >/dev/null; "
                                           "exit ${PIPESTATUS[0]}"),
                            CliPath()} +
                    arguments);
    if (shell.waitForFinished(120000) && shell.exitStatus() == QProcess::NormalExit)
        run.exitCode = shell.exitCode();
    run.err = shell.readAllStandardError();
#endif
    return run;
}

} // namespace

class CliOutput : public QObject
{
    Q_OBJECT

private slots:
    void helpAndVersion_data();
    void helpAndVersion();
    void languageFollowsLocale_data();
    void languageFollowsLocale();
    void gbkTerminal_data();
    void gbkTerminal();
    void closedStdout_data();
    void closedStdout();
    void interruptLeavesEveryFileWhole();
    void progressOnlyOnTerminal_data();
    void progressOnlyOnTerminal();
    void ruleTableOnStderr_data();
    void ruleTableOnStderr();
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
                           QStringLiteral("SIGTERM")};
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
    const QString out = CliText(cli.out);
    for (const QString &text : mustContain)
        QVERIFY2(out.contains(text), qPrintable(text));
}

void CliOutput::languageFollowsLocale_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("arguments"); // SOURCE stands for a folder with one match
    QTest::addColumn<QString>("said");

    const QString zh = QStringLiteral("zh_CN.UTF-8");
    const QString en = QStringLiteral("C.UTF-8");
    const QStringList help{QStringLiteral("--help")};
    const QStringList usageError{QStringLiteral("replace")};
    const QStringList refused{
        QStringLiteral("replace"),   QStringLiteral("/no-such-parafold-folder"),
        QStringLiteral("--find"),    QStringLiteral("a"),
        QStringLiteral("--replace"), QStringLiteral("b"),
        QStringLiteral("--in-place")};
    const QStringList statistics{QStringLiteral("find"), QStringLiteral("SOURCE"),
                                 QStringLiteral("--terms"), QStringLiteral("小云")};
    QTest::newRow("help, Chinese") << zh << help << QStringLiteral("用法:\n");
    QTest::newRow("help, English") << en << help << QStringLiteral("Usage:\n");
    QTest::newRow("usage error, Chinese")
        << zh << usageError
        << QStringLiteral("parafold-cli: 缺少 SOURCE\n运行 'parafold-cli --help' 查看更多信息。");
    QTest::newRow("usage error, English")
        << en << usageError
        << QStringLiteral(
               "parafold-cli: SOURCE is missing\nTry 'parafold-cli --help' for more information.");
    QTest::newRow("refusal, Chinese")
        << zh << refused << QStringLiteral("parafold-cli: 源文件夹不存在:");
    QTest::newRow("refusal, English")
        << en << refused << QStringLiteral("parafold-cli: the source folder does not exist: ");
    QTest::newRow("statistics, Chinese")
        << zh << statistics
        << QStringLiteral("扫描文件1个,查找符合类型文件1个,包含查找内容文件1个,修改文件0个,耗时");
    QTest::newRow("statistics, English")
        << en << statistics
        << QStringLiteral("1 files scanned, 1 files of the type, 1 files contain the text, 0 files "
                          "changed, took ");
}

void CliOutput::languageFollowsLocale()
{
    QFETCH(QString, locale);
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
#ifdef Q_OS_WIN
    if (!locale.startsWith(QLatin1String("zh")))
        QSKIP("Windows takes the language from the system, not from the environment");
#endif
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WriteBytes(dir.path(), QStringLiteral("a.txt"), Utf8("小云\n"));
    arguments.replaceInStrings(QStringLiteral("SOURCE"), dir.path());

    const CliResult cli = RunCliInLocale(locale, arguments);
    const QString text = CliText(cli.out) + CliText(cli.err);
    QVERIFY2(text.contains(said), qPrintable(text));
}

void CliOutput::gbkTerminal_data()
{
    QTest::addColumn<QStringList>("arguments"); // SOURCE stands for a folder with one match
    QTest::addColumn<QString>("said");
    QTest::newRow("a Chinese search term")
        << QStringList{QStringLiteral("find"), QStringLiteral("SOURCE"), QStringLiteral("--terms"),
                       QStringLiteral("小云")}
        << QStringLiteral("扫描文件1个,查找符合类型文件1个,包含查找内容文件1个,修改文件0个");
    // (a message that needs no run lock, which another run may hold)
    QTest::newRow("a usage error")
        << QStringList{QStringLiteral("replace")} << QStringLiteral("parafold-cli: 缺少 SOURCE");
    QTest::newRow("a diff") << QStringList{QStringLiteral("replace"),    QStringLiteral("SOURCE"),
                                           QStringLiteral("--find"),     QStringLiteral("小云"),
                                           QStringLiteral("--replace"),  QStringLiteral("小雨"),
                                           QStringLiteral("--in-place"), QStringLiteral("--diff")}
                            << QStringLiteral("-小云\n+小雨\n");
}

// Under a GBK locale the arguments come, and everything goes out, as GBK bytes.
void CliOutput::gbkTerminal()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
#ifdef Q_OS_WIN
    QSKIP("Windows hands over wide arguments and takes its code page from the system");
#endif
    QProcess locales;
    locales.start(QStringLiteral("locale"), {QStringLiteral("-a")});
    if (!locales.waitForFinished() ||
        !locales.readAllStandardOutput().toLower().contains("zh_cn.gbk"))
        QSKIP("no zh_CN.GBK locale (localedef -i zh_CN -f GBK zh_CN.GBK)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    WriteBytes(dir.path(), QStringLiteral("a.txt"), Utf8("小云\n"));
    arguments.replaceInStrings(QStringLiteral("SOURCE"), dir.path());

    // QProcess hands the arguments over in the local 8-bit encoding.
    QTextCodec *own = QTextCodec::codecForLocale();
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QTextCodec::setCodecForLocale(gbk);
    const CliResult cli = RunCliInLocale(QStringLiteral("zh_CN.GBK"), arguments);
    QTextCodec::setCodecForLocale(own);
    const QString text = gbk->toUnicode(cli.out + cli.err);
    QVERIFY2(text.contains(said), qPrintable(text));
}

void CliOutput::closedStdout_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("allFilesChanged");
    QTest::addColumn<int>("files");

    // Enough files that the search outlasts the first output and the reader's leaving by far:
    // three thousand took a fast search about as long as one output interval.
    QTest::newRow("find stops") << QStringList{QStringLiteral("find"), QStringLiteral("@SRC"),
                                               QStringLiteral("--terms"), QStringLiteral("小云")}
                                << false << 15000;
    QTest::newRow("an edit finishes its files")
        << QStringList{QStringLiteral("insert"),     QStringLiteral("@SRC"),
                       QStringLiteral("--text"),     QStringLiteral("小云"),
                       QStringLiteral("--in-place"), QStringLiteral("--no-sync")}
        // a flush a file took minutes under wine
        << true << 3000;
}

void CliOutput::closedStdout()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, allFilesChanged);
    QFETCH(int, files);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    for (int i = 0; i < files; ++i)
        WriteBytes(root.path(), QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i), Utf8("小云\n"));
    arguments.replaceInStrings(QStringLiteral("@SRC"), root.filePath(QStringLiteral("src")));

    const ShortReaderRun run = RunIntoShortReader(arguments);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(CliText(run.err).startsWith(QStringLiteral("扫描文件")), run.err.constData());
    // The reader gone, a search ends and says so; an edit goes on to its end.
    const QString statistics = CliText(run.err).section(QLatin1Char('\n'), 0, 0).trimmed();
    QCOMPARE(statistics.endsWith(QStringLiteral("(已停止)")), !allFilesChanged);

    if (allFilesChanged) {
        for (int i = 0; i < files; ++i) {
            const QString path = root.filePath(QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i));
            QCOMPARE(ReadBytes(path), Utf8("小云小云\r\n"));
        }
    }
}

void CliOutput::interruptLeavesEveryFileWhole()
{
#ifdef Q_OS_WIN
    QSKIP("terminate() asks a program through WM_CLOSE, which a console program never gets");
#endif
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const int files = 3000;
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        paths << root.filePath(QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i));
        WriteBytes(root.path(), QStringLiteral("src/%1/%2.txt").arg(i % 10).arg(i), Utf8("正文\n"));
    }

    QProcess process;
    process.start(CliPath(),
                  QStringList{QStringLiteral("insert"), root.filePath(QStringLiteral("src")),
                              QStringLiteral("--text"), QStringLiteral("序"),
                              QStringLiteral("--in-place")});
    QVERIFY(process.waitForReadyRead(60000));
    process.terminate();
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    const QStringList listed = SplitList(process.readAllStandardOutput(), '\n');
    if (process.exitCode() == 0 && listed.size() == files)
        QSKIP("the run ended before the signal arrived");
    QCOMPARE(process.exitCode(), 130);
    const QString messages = CliText(process.readAllStandardError());
    QVERIFY(messages.contains(QStringLiteral("(已停止)\n")));
    QVERIFY(messages.contains(QStringLiteral("interrupted")));

    // Each file is old or new, and the list names exactly the new ones.
    QStringList changed;
    for (const QString &path : paths) {
        const QByteArray bytes = ReadBytes(path);
        if (bytes == Utf8("序正文\r\n"))
            changed << path;
        else
            QCOMPARE(bytes, Utf8("正文\n"));
    }
    QVERIFY(changed.size() < files);
    QStringList sortedList = listed;
    sortedList.sort();
    changed.sort();
    QCOMPARE(sortedList, changed);
}

void CliOutput::progressOnlyOnTerminal_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::newRow("progress") << false;
    QTest::newRow("quiet: no progress, no statistics") << true;
}

void CliOutput::progressOnlyOnTerminal()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has no pseudo terminal through which a test could read a console");
#else
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
#endif
}

void CliOutput::ruleTableOnStderr_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("exitCode");
    // Patterns that stderr must hold, each on a line of its own, in this order.
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("written");

    const QString any = QStringLiteral(".*");
    QTest::newRow("each rule's hits, one that hit nothing too")
        << Utf8("小云\t甲\n不存在\t乙\n") << QStringList{QStringLiteral("--verbose")} << 0
        << QStringList{QStringLiteral("^4\t小云 → 甲$"), QStringLiteral("^0\t不存在 → 乙$"), any}
        << true;
    QTest::newRow("a chain is named before the run, which goes on")
        << Utf8("小云\t小吉\n小吉\t乙\n") << QStringList() << 0
        << QStringList{QStringLiteral("1.*小云 → 小吉.*2.*小吉 → 乙"), any} << true;
    QTest::newRow("a table with lines in error is refused, each line named")
        << Utf8("小云\n甲\t乙\t丙\n") << QStringList{QStringLiteral("--verbose")} << 2
        << QStringList{QStringLiteral("rules\\.txt: .*1"), QStringLiteral("rules\\.txt: .*2")}
        << false;
    QTest::newRow("a table that is neither UTF-8 nor GBK is refused")
        << QByteArray("\x81 \t\x81 \n") << QStringList() << 2
        << QStringList{QStringLiteral("rules\\.txt")} << false;
    QTest::newRow("--rules excludes --find-file")
        << Utf8("小云\t甲\n") << QStringList{QStringLiteral("--find-file"), QStringLiteral("x")}
        << 2 << QStringList{QStringLiteral("--rules.*--find-file")} << false;
}

void CliOutput::ruleTableOnStderr()
{
    QFETCH(QByteArray, table);
    QFETCH(QStringList, extra);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(bool, written);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString source = root.filePath(QStringLiteral("src"));
    const QString save = root.filePath(QStringLiteral("save"));
    MakeSampleTree(source);
    QVERIFY(QDir().mkpath(save));
    WriteBytes(root.path(), QStringLiteral("rules.txt"), table);
    const CliResult result =
        RunCli(QStringList{QStringLiteral("replace-pairs"), source, QStringLiteral("--rules"),
                           root.filePath(QStringLiteral("rules.txt")), QStringLiteral("--save-dir"),
                           save} +
               extra);
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, exitCode);
    const QStringList errLines = CliText(result.err).split(QLatin1Char('\n'));
    int at = 0;
    for (const QString &pattern : lines) {
        const QRegularExpression expression(pattern);
        while (at < errLines.size() && !expression.match(errLines.at(at)).hasMatch())
            ++at;
        QVERIFY2(at < errLines.size(),
                 qPrintable(pattern + QStringLiteral(" in ") + CliText(result.err)));
        ++at;
    }
    QCOMPARE(!QDir(save).isEmpty(), written);
}

QTEST_GUILESS_MAIN(CliOutput)
#include "tst_cli_output.moc"
