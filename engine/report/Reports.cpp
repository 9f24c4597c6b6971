#include "engine/report/Reports.h"

#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileNames.h"

#include <QTextCodec>

const QString reportNotUndoneName = QStringLiteral("未能撤销的文件目录.txt");

bool IsReportName(const QString &relativePath)
{
    for (const QString &name :
         {reportUnreadableName, reportMatchedName, reportUnmatchedName, reportNotUndoneName}) {
        if (relativePath == name)
            return true;
    }
    return false;
}

QString ReportLineWithReason(const QString &nativePath, const QString &reason)
{
    return nativePath + QLatin1Char('\t') + reason;
}

QString StoppedReportLine(int filesNotReached)
{
    return QStringLiteral("(已停止:另有%1个文件未处理)").arg(filesNotReached);
}

QString StatisticsLine(Operation operation, const RunCounts &counts)
{
    const QString piece = QStringLiteral("%1%2个,");
    QString line = piece.arg(QStringLiteral("扫描文件")).arg(counts.scanned);
    line += piece.arg(QStringLiteral("查找符合类型文件")).arg(counts.txtFiles);
    if (operation == Operation::FindText) {
        line += piece.arg(QStringLiteral("包含查找内容文件")).arg(counts.changed);
        line += piece.arg(QStringLiteral("修改文件")).arg(0);
    } else {
        line += piece.arg(counts.dryRun ? QStringLiteral("将修改文件") : QStringLiteral("修改文件"))
                    .arg(counts.changed);
    }
    if (operation == Operation::ConvertEncoding)
        line += piece.arg(QStringLiteral("已是目标编码")).arg(counts.alreadyInTarget);
    if (counts.failed > 0)
        line += piece.arg(QStringLiteral("失败")).arg(counts.failed);
    line += QStringLiteral("耗时%1秒。").arg(counts.seconds);
    if (counts.stopped)
        line += QStringLiteral("(已停止)");
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
    return statistics + QStringLiteral("报告文件无法写入!");
}
