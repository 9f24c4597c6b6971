#include "app/ConfigFile.h"
#include "app/RecentTerms.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

QByteArray Repeated(char c, int count)
{
    return QByteArray(count, c);
}

bool WriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestConfigFile : public QObject
{
    Q_OBJECT

private slots:
    void getValue_data();
    void getValue();
    void readFile_data();
    void readFile();
    void readMissingFile();
    void setValue_data();
    void setValue();
    void setValueNeverCreatesFile();
    void setValueInFolderNotWritable();
    void chineseFolderRoundTrip();
    void recentTermsRoundTrip_data();
    void recentTermsRoundTrip();
};

void TestConfigFile::getValue_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");

    const QByteArray both("sourcePath=C:/a/\r\nsavePath=D:/b/\r\n");
    QTest::newRow("first key") << both << QByteArray("sourcePath") << QByteArray("C:/a/");
    QTest::newRow("second key") << both << QByteArray("savePath") << QByteArray("D:/b/");
    QTest::newRow("absent key") << both << QByteArray("other") << QByteArray();
    QTest::newRow("empty content") << QByteArray() << QByteArray("savePath") << QByteArray();
    QTest::newRow("blanks and tabs trimmed") << QByteArray("savePath=  \tD:/b c/ \t \r\n")
                                             << QByteArray("savePath") << QByteArray("D:/b c/");
    QTest::newRow("blank before equals sign")
        << QByteArray("savePath =D:/b/\r\n") << QByteArray("savePath") << QByteArray();
    QTest::newRow("letter case differs")
        << QByteArray("SavePath=D:/b/\r\n") << QByteArray("savePath") << QByteArray();
    QTest::newRow("key inside a line is part of a value")
        << QByteArray("x=1 savePath=D:/b/\r\n") << QByteArray("savePath") << QByteArray();
    QTest::newRow("key inside another key's value")
        << QByteArray("sourcePath=/data/books/savePath=old/\r\nsavePath=/data/out/\r\n")
        << QByteArray("savePath") << QByteArray("/data/out/");
    QTest::newRow("blanks before the key") << QByteArray("x=1\r\n \tsavePath=D:/b/\r\n")
                                           << QByteArray("savePath") << QByteArray("D:/b/");
    QTest::newRow("first occurrence wins") << QByteArray("savePath=D:/b/\r\nsavePath=E:/c/\r\n")
                                           << QByteArray("savePath") << QByteArray("D:/b/");
    QTest::newRow("value holds equals sign")
        << QByteArray("k=a=b\r\n") << QByteArray("k") << QByteArray("a=b");
    QTest::newRow("empty value") << QByteArray("k=\r\nj=1\r\n") << QByteArray("k") << QByteArray();
    QTest::newRow("no line end after value")
        << QByteArray("x=1\r\nsavePath=D:/b/") << QByteArray("savePath") << QByteArray();
    QTest::newRow("bare line feed after value")
        << QByteArray("savePath=D:/b/\nx=1\n") << QByteArray("savePath") << QByteArray("D:/b/");
    QTest::newRow("value ends at a bare line feed")
        << QByteArray("k=a\nb\r\n") << QByteArray("k") << QByteArray("a");
    QTest::newRow("value ends at a bare carriage return")
        << QByteArray("k=a\rb\r\n") << QByteArray("k") << QByteArray("a");
    QTest::newRow("zero byte is plain content")
        << QByteArray("x=\0\r\nk=v\r\n", 10) << QByteArray("k") << QByteArray("v");
    QTest::newRow("longest value")
        << QByteArray("k=" + Repeated('v', CONFIG_VALUE_SIZE - 1) + "\r\n") << QByteArray("k")
        << Repeated('v', CONFIG_VALUE_SIZE - 1);
    QTest::newRow("longest value with blanks")
        << QByteArray("k=  " + Repeated('v', CONFIG_VALUE_SIZE - 1) + "  \r\n") << QByteArray("k")
        << Repeated('v', CONFIG_VALUE_SIZE - 1);
    // A cut path would name another folder.
    QTest::newRow("value too long") << QByteArray("k=" + Repeated('v', CONFIG_VALUE_SIZE) + "\r\n")
                                    << QByteArray("k") << QByteArray();
}

void TestConfigFile::getValue()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QCOMPARE(GetConfigValue(content, key), value);
}

void TestConfigFile::readFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("lastKeyValue"); // of the key "last"

    const QByteArray line("last=LL\r\n");
    const QByteArray fits = Repeated('#', SETTINGS_BUFFER_SIZE - 3 - line.size()) + "\r\n" + line;
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("small") << line << line << QByteArray("LL");
    QTest::newRow("exactly full") << fits << fits << QByteArray("LL");
    // The value is whole up to its CR.
    QTest::newRow("one byte over")
        << QByteArray('#' + fits) << QByteArray('#' + fits.chopped(1)) << QByteArray("LL");
    QTest::newRow("value cut") << QByteArray("###" + fits) << QByteArray("###" + fits.chopped(3))
                               << QByteArray();
    const QByteArray large = Repeated('#', 5 * SETTINGS_BUFFER_SIZE) + line;
    QTest::newRow("far over") << large << large.left(SETTINGS_BUFFER_SIZE - 1) << QByteArray();
}

void TestConfigFile::readFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, lastKeyValue);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QVERIFY(WriteFile(path, content));
    QByteArray buffer("stale");
    QCOMPARE(ReadConfigFile(buffer, path), 0);
    QCOMPARE(buffer, read);
    QCOMPARE(GetConfigValue(buffer, "last"), lastKeyValue);
}

void TestConfigFile::readMissingFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QByteArray buffer("untouched");
    QCOMPARE(ReadConfigFile(buffer, path), -1);
    QCOMPARE(buffer, QByteArray("untouched"));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(ReadConfigFile(buffer, folder.path()), -1);
    QCOMPARE(buffer, QByteArray("untouched"));
}

void TestConfigFile::setValue_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("after");

    const QByteArray both("sourcePath=C:/a/\r\nsavePath=D:/b/\r\n");
    QTest::newRow("replace first") << both << QByteArray("sourcePath") << QByteArray("E:/c/") << 0
                                   << QByteArray("sourcePath=E:/c/\r\nsavePath=D:/b/\r\n");
    QTest::newRow("replace last") << both << QByteArray("savePath") << QByteArray("E:/c/") << 0
                                  << QByteArray("sourcePath=C:/a/\r\nsavePath=E:/c/\r\n");
    QTest::newRow("replace with longer and shorter")
        << QByteArray("a=1\r\nk=short\r\nz=2\r\n") << QByteArray("k")
        << QByteArray("a much longer value") << 0
        << QByteArray("a=1\r\nk=a much longer value\r\nz=2\r\n");
    QTest::newRow("replace unterminated last line")
        << QByteArray("x=1\r\nsavePath=D:/b/") << QByteArray("savePath") << QByteArray("E:/c/") << 0
        << QByteArray("x=1\r\nsavePath=E:/c/\r\n");
    QTest::newRow("key inside a value is not replaced")
        << QByteArray("sourcePath=/data/books/savePath=old/\r\n") << QByteArray("savePath")
        << QByteArray("/data/out/") << 0
        << QByteArray("sourcePath=/data/books/savePath=old/\r\nsavePath=/data/out/\r\n");
    QTest::newRow("append after line without line end")
        << QByteArray("x=1") << QByteArray("savePath") << QByteArray("D:/b/") << 0
        << QByteArray("x=1\r\nsavePath=D:/b/\r\n");
    QTest::newRow("append after CR LF")
        << QByteArray("x=1\r\n") << QByteArray("savePath") << QByteArray("D:/b/") << 0
        << QByteArray("x=1\r\nsavePath=D:/b/\r\n");
    QTest::newRow("append to empty file")
        << QByteArray() << QByteArray("savePath") << QByteArray("D:/b/") << 0
        << QByteArray("savePath=D:/b/\r\n");
    QTest::newRow("blank before equals sign is another key")
        << QByteArray("savePath =D:/b/\r\n") << QByteArray("savePath") << QByteArray("E:/c/") << 0
        << QByteArray("savePath =D:/b/\r\nsavePath=E:/c/\r\n");
    QTest::newRow("value written as passed")
        << QByteArray() << QByteArray("k") << QByteArray("  a=b\t ") << 0
        << QByteArray("k=  a=b\t \r\n");
    QTest::newRow("bare line feeds keep other keys")
        << QByteArray("sourcePath=C:/a/\nsavePath=D:/b/\nx=1\n") << QByteArray("sourcePath")
        << QByteArray("E:/c/") << 0 << QByteArray("sourcePath=E:/c/\r\nsavePath=D:/b/\nx=1\n");
    QTest::newRow("bare line feeds, append")
        << QByteArray("x=1\n") << QByteArray("savePath") << QByteArray("D:/b/") << 0
        << QByteArray("x=1\nsavePath=D:/b/\r\n");
    QTest::newRow("long file beyond the read buffer")
        << QByteArray(Repeated('#', 3 * SETTINGS_BUFFER_SIZE) + "\r\nk=1\r\n") << QByteArray("k")
        << QByteArray("2") << 0
        << QByteArray(Repeated('#', 3 * SETTINGS_BUFFER_SIZE) + "\r\nk=2\r\n");
    QTest::newRow("line break in value refused")
        << both << QByteArray("savePath") << QByteArray("E:/c/\r\nsourcePath=F:/") << -1 << both;
    QTest::newRow("line feed in value refused")
        << both << QByteArray("savePath") << QByteArray("E:/\nc/") << -1 << both;
    QTest::newRow("equals sign in key refused")
        << both << QByteArray("save=Path") << QByteArray("E:/c/") << -1 << both;
    QTest::newRow("empty key refused") << both << QByteArray() << QByteArray("E:/c/") << -1 << both;
    QTest::newRow("blank around key refused")
        << QByteArray(" savePath=D:/b/\r\n") << QByteArray(" savePath") << QByteArray("E:/c/") << -1
        << QByteArray(" savePath=D:/b/\r\n");
}

void TestConfigFile::setValue()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(int, result);
    QFETCH(QByteArray, after);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QVERIFY(WriteFile(path, before));
    QCOMPARE(SetConfigValue(path, key, value), result);
    QCOMPARE(ReadFile(path), after);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("Parafold.cvn")});
}

void TestConfigFile::setValueNeverCreatesFile()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QCOMPARE(SetConfigValue(path, "sourcePath", "D:/b/"), -1);
    QVERIFY(!QFile::exists(path));
    QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

void TestConfigFile::setValueInFolderNotWritable()
{
#ifdef Q_OS_WIN
    QSKIP("a folder is closed to writing through its access list, which Qt does not set; its "
          "read-only attribute does not stop new files");
#else
    // A settings file the user may write, in a folder they may not, as beside a program
    // that an administrator installed.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QVERIFY(WriteFile(path, "x=1\r\nsourcePath=C:/a/\r\n"));
    const QFile::Permissions everyone = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(path, everyone | QFile::WriteOwner | QFile::WriteGroup |
                                            QFile::WriteOther));
    QVERIFY(QFile::setPermissions(folder.path(),
                                  everyone | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
    const auto writable = qScopeGuard([&] {
        QFile::setPermissions(folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });

    int result = -2;
    if (geteuid() != 0) {
        result = SetConfigValue(path, "sourcePath", "D:/b/");
    } else {
        // The administrator may write anywhere: the update runs as a user without rights.
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(3);
            _exit(SetConfigValue(path, "sourcePath", "D:/b/") == 0 ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QVERIFY(WEXITSTATUS(status) != 3);
        result = WEXITSTATUS(status) == 0 ? 0 : -1;
    }
    QCOMPARE(result, 0);
    QCOMPARE(ReadFile(path), QByteArray("x=1\r\nsourcePath=D:/b/\r\n"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("Parafold.cvn")});
#endif
}

void TestConfigFile::chineseFolderRoundTrip()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Parafold.cvn"));
    QVERIFY(WriteFile(path, QByteArray()));
    const QString source = QStringLiteral("D:/小说/第一卷 ：“草稿”/");
    const QString save = QStringLiteral("/home/用户/保存/");
    QCOMPARE(SetConfigValue(path, "sourcePath", ToConfigBytes(source)), 0);
    QCOMPARE(SetConfigValue(path, "savePath", ToConfigBytes(save)), 0);
    QCOMPARE(SetConfigValue(path, "sourcePath", ToConfigBytes(source)), 0);

    QByteArray content;
    QCOMPARE(ReadConfigFile(content, path), 0);
    QCOMPARE(content,
             ToConfigBytes(QStringLiteral("sourcePath=") + source +
                           QStringLiteral("\r\nsavePath=") + save + QStringLiteral("\r\n")));
    QCOMPARE(FromConfigBytes(GetConfigValue(content, "sourcePath")), source);
    QCOMPARE(FromConfigBytes(GetConfigValue(content, "savePath")), save);
#ifdef Q_OS_WIN
    // The local 8-bit encoding of Chinese Windows (code page 936) is GBK.
    QCOMPARE(GetConfigValue(content, "sourcePath"),
             QTextCodec::codecForName("GBK")->fromUnicode(source));
#endif
}

void TestConfigFile::recentTermsRoundTrip_data()
{
    QTest::addColumn<QStringList>("added"); // oldest first
    QTest::addColumn<QStringList>("kept");  // newest first
    const QStringList kept = {QStringLiteral(" x"), QStringLiteral("c\\d\\t"),
                              QStringLiteral("a\tb"), QStringLiteral("小云 ")};
    QTest::newRow("blanks, tabs and backslashes kept")
        << QStringList{kept[3], kept[2], kept[1], kept[0]} << kept;
    QTest::newRow("newest first, once, never empty")
        << QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(), QStringLiteral("a")}
        << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QStringList many;
    for (int i = 0; i < 25; ++i)
        many << QString::number(i);
    QStringList newest;
    for (int i = 24; i >= 5; --i)
        newest << QString::number(i);
    QTest::newRow("twenty kept") << many << newest;
    QStringList long100;
    for (int i = 0; i < 15; ++i)
        long100 << QString(99, QLatin1Char('a' + i));
    QStringList fitting;
    for (int i = 14; i >= 5; --i)
        fitting << QString(99, QLatin1Char('a' + i));
    QTest::newRow("as many as fit in a value") << long100 << fitting;
}

void TestConfigFile::recentTermsRoundTrip()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, kept);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Parafold.cvn"));
    QVERIFY(WriteFile(path, "sourcePath=C:/a/\r\n"));
    QStringList entries;
    for (const QString &text : added)
        entries = AddRecentTerm(entries, text);
    QCOMPARE(SetConfigValue(path, "recentFind", RecentTermsValue(entries)), 0);
    QByteArray content;
    QCOMPARE(ReadConfigFile(content, path), 0);
    QCOMPARE(RecentTermsFromValue(GetConfigValue(content, "recentFind")), kept);
    QCOMPARE(GetConfigValue(content, "sourcePath"), QByteArray("C:/a/"));
}

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
