#include "platform/FileLinks.h"

#include <QTest>

// Paths past 260 characters reach the wide Win32 calls in their extended form; Qt's own file
// calls do the same, so a deep tree is not written by one half of the program only.
class TestFileLinks : public QObject
{
    Q_OBJECT

private slots:
    void extendedLengthPath_data();
    void extendedLengthPath();
};

void TestFileLinks::extendedLengthPath_data()
{
    const QString deep = QStringLiteral("\\深层文件夹").repeated(60); // 360 characters
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short") << QStringLiteral("C:\\小说\\a.txt")
                           << QStringLiteral("C:\\小说\\a.txt");
    QTest::newRow("long") << QStringLiteral("C:") + deep << QStringLiteral("\\\\?\\C:") + deep;
    QTest::newRow("long, forward slashes")
        << QStringLiteral("C:") + QString(deep).replace(QLatin1Char('\\'), QLatin1Char('/'))
        << QStringLiteral("\\\\?\\C:") + deep;
    QTest::newRow("long, with ..")
        << QStringLiteral("C:") + deep + QStringLiteral("\\x\\..\\a.txt")
        << QStringLiteral("\\\\?\\C:") + deep + QStringLiteral("\\a.txt");
    QTest::newRow("long share") << QStringLiteral("\\\\server\\share") + deep
                                << QStringLiteral("\\\\?\\UNC\\server\\share") + deep;
    QTest::newRow("already extended")
        << QStringLiteral("\\\\?\\C:") + deep << QStringLiteral("\\\\?\\C:") + deep;
}

void TestFileLinks::extendedLengthPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(QString::fromStdWString(platform::ExtendedLengthPath(path.toStdWString())), expected);
}

QTEST_GUILESS_MAIN(TestFileLinks)
#include "tst_filelinks.moc"
