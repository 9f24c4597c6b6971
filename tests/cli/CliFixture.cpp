#include "tests/cli/CliFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>
#include <QTextCodec>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

QString CliPath()
{
    return QString::fromUtf8(PARAFOLD_CLI_PATH);
}

CliResult RunCli(const QStringList &arguments, const QString &workingDir)
{
    return RunCliInLocale(QStringLiteral("zh_CN.UTF-8"), arguments, workingDir);
}

CliResult RunCliInLocale(const QString &locale, const QStringList &arguments,
                         const QString &workingDir)
{
    QProcess process;
#ifndef Q_OS_WIN
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), locale);
    process.setProcessEnvironment(environment);
#else
    Q_UNUSED(locale)
#endif
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(CliPath(), arguments);
    return FinishCli(process);
}

CliResult FinishCli(QProcess &process)
{
    CliResult result;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        qWarning("parafold-cli did not finish: %s", qPrintable(process.errorString()));
        return result;
    }
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString CliText(const QByteArray &output)
{
#ifdef Q_OS_WIN
    return QString::fromLocal8Bit(output);
#else
    return QString::fromUtf8(output);
#endif
}

void WriteBytes(const QString &root, const QString &relativePath, const QByteArray &bytes)
{
    const QString path = root + QLatin1Char('/') + relativePath;
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return file.readAll();
}

QByteArray Utf8(const char *text)
{
    return QByteArray(text);
}

QByteArray Gbk(const QString &text)
{
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

QByteArray Utf16LeWithBom(const QString &text)
{
    QByteArray bytes("\xFF\xFE");
    for (QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

void MakeSampleTree(const QString &root)
{
    WriteBytes(root, QStringLiteral("a.txt"), Utf8("小云和小吉\n第二行小云"));
    WriteBytes(root, QStringLiteral("sub/b.txt"),
               Gbk(QStringLiteral("小云在这里\r\n只有一个\r\n")));
    WriteBytes(root, QStringLiteral("sub/deeper/c.TXT"), Utf8("\xEF\xBB\xBF没有要找的\r\n"));
    WriteBytes(root, QStringLiteral("d.txt"), Utf16LeWithBom(QStringLiteral("小吉 小云\r\n")));
    WriteBytes(root, QStringLiteral("e.txt.bak"), Utf8("小云"));
    WriteBytes(root, QStringLiteral("notes.md"), Utf8("小云 小吉"));
    WriteBytes(root, QStringLiteral("empty.txt"), QByteArray());
    WriteBytes(root, QStringLiteral("名字 有空格.txt"), Utf8("小吉"));
    WriteBytes(root, QStringLiteral("sub/latin.txt"), Utf8("plain ASCII\n"));
}

namespace {

// The modification time to the system's precision and the file's identity: a rewrite
// through rename shows even within a clock tick.
QByteArray TimeAndIdentity(const QString &path)
{
#ifdef Q_OS_WIN
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), 0,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return QByteArray();
    BY_HANDLE_FILE_INFORMATION info;
    QByteArray entry;
    if (GetFileInformationByHandle(handle, &info)) {
        const FILETIME &time = info.ftLastWriteTime;
        entry =
            " @" + QByteArray::number((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) +
            " #" + QByteArray::number((quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
    }
    CloseHandle(handle);
    return entry;
#else
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QByteArray();
    return " @" + QByteArray::number(qint64(status.st_mtim.tv_sec)) + '.' +
           QByteArray::number(qint64(status.st_mtim.tv_nsec)) + " #" +
           QByteArray::number(quint64(status.st_ino));
#endif
}

} // namespace

QMap<QString, QByteArray> Snapshot(const QString &root, bool withTimes)
{
    QMap<QString, QByteArray> entries;
    const QDir base(root);
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        QByteArray entry = info.isDir() ? QByteArray("<dir>") : ReadBytes(info.filePath());
        if (withTimes)
            entry += TimeAndIdentity(info.filePath());
        entries.insert(base.relativeFilePath(info.filePath()), entry);
    }
    return entries;
}

QStringList SplitList(const QByteArray &list, char separator)
{
    QStringList lines;
    if (list.isEmpty())
        return lines;
    const QList<QByteArray> parts = list.split(separator);
    for (int i = 0; i + 1 < parts.size(); ++i)
        lines << QString::fromLocal8Bit(parts.at(i));
    if (!parts.last().isEmpty())
        lines << QStringLiteral("<unterminated>") + QString::fromLocal8Bit(parts.last());
    return lines;
}

QString WithoutSeconds(const QString &statistics)
{
    QString line = statistics;
    line.replace(QRegularExpression(QStringLiteral("耗时\\d+秒")), QStringLiteral("耗时#秒"));
    return line;
}
