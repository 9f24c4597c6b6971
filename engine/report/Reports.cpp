#include "engine/report/Reports.h"

#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"

#include <QCoreApplication>
#include <QTextCodec>

const QString reportNotUndoneName = QStringLiteral("未能撤销的文件目录.txt");

bool IsReportName(const QString &relativePath)
{
    for (const QString &name : {reportUnreadableName, reportMatchedName, reportUnmatchedName,
                                reportNotUndoneName, reportRuleHitsName}) {
        if (relativePath == name)
            return true;
    }
    return false;
}

QString ReportLineWithReason(const QString &nativePath, const QString &reason)
{
    return nativePath + QLatin1Char('\t') + reason;
}

namespace {

QString Translated(const char *text)
{
    return QCoreApplication::translate("Reports", text);
}

} // namespace

QString StoppedReportLine(int filesNotReached)
{
    return QCoreApplication::translate("Reports", "(stopped: %1 more files not processed)")
        .arg(filesNotReached);
}

QString StatisticsLine(Operation operation, const RunCounts &counts)
{
    // Whole pieces, so that each language orders its number and its words.
    QString line =
        Translated(QT_TRANSLATE_NOOP("Reports", "%1 files scanned, ")).arg(counts.scanned);
    line += Translated(QT_TRANSLATE_NOOP("Reports", "%1 files of the type, ")).arg(counts.txtFiles);
    if (operation == Operation::FindText) {
        line += Translated(QT_TRANSLATE_NOOP("Reports", "%1 files contain the text, "))
                    .arg(counts.changed);
        line += Translated(QT_TRANSLATE_NOOP("Reports", "%1 files changed, ")).arg(0);
    } else {
        line += Translated(counts.dryRun ? QT_TRANSLATE_NOOP("Reports", "%1 files would change, ")
                                         : QT_TRANSLATE_NOOP("Reports", "%1 files changed, "))
                    .arg(counts.changed);
    }
    if (operation == Operation::ConvertEncoding)
        line += Translated(QT_TRANSLATE_NOOP("Reports", "%1 already in the target encoding, "))
                    .arg(counts.alreadyInTarget);
    if (!counts.readIn.isEmpty()) {
        QStringList each;
        for (auto read = counts.readIn.cbegin(); read != counts.readIn.cend(); ++read)
            each +=
                Translated(QT_TRANSLATE_NOOP("Reports", "%1 %2")).arg(read.key()).arg(read.value());
        line += Translated(QT_TRANSLATE_NOOP("Reports", "read as %1, "))
                    .arg(each.join(Translated(QT_TRANSLATE_NOOP("Reports", " and "))));
    }
    if (counts.failed > 0)
        line += Translated(QT_TRANSLATE_NOOP("Reports", "%1 failed, ")).arg(counts.failed);
    line += QCoreApplication::translate("Reports", "took %1 s.").arg(counts.seconds);
    if (counts.stopped)
        line += QCoreApplication::translate("Reports", " (stopped)");
    return line;
}

QByteArray ReportBytes(const QStringList &nativePaths)
{
    QString text;
    for (const QString &path : nativePaths) {
        text += path;
        text += QLatin1String("\r\n");
    }
    // Names that are not text go in as their own bytes, so each line names its file.
    if (std::optional<QByteArray> local = EncodeKeepingBytes(text, QTextCodec::codecForLocale()))
        return *local;
    const QByteArray bom("\xEF\xBB\xBF");
    return bom + EncodeKeepingBytes(text, Utf8Codec()).value_or(text.toUtf8());
}

bool WriteReport(const QString &reportPath, const QStringList &nativePaths, QString *error)
{
    return WriteTextFile(reportPath, ReportBytes(nativePaths), error);
}

QString WithReportFailure(const QString &statistics)
{
    return statistics +
           QCoreApplication::translate("Reports", " The report files could not be written!");
}
