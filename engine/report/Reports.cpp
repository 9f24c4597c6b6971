#include "engine/report/Reports.h"

#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"

#include <QTextCodec>

QString StatisticsLine(Operation operation, const RunCounts &counts)
{
    const QString piece = QStringLiteral("%1%2个,");
    QString line = piece.arg(QStringLiteral("扫描文件")).arg(counts.scanned);
    line += piece.arg(QStringLiteral("查找符合类型文件")).arg(counts.txtFiles);
    if (operation == Operation::FindText) {
        line += piece.arg(QStringLiteral("包含查找内容文件")).arg(counts.changed);
        line += piece.arg(QStringLiteral("修改文件")).arg(0);
    } else {
        line += piece.arg(QStringLiteral("修改文件")).arg(counts.changed);
    }
    if (counts.failed > 0)
        line += piece.arg(QStringLiteral("失败")).arg(counts.failed);
    line += QStringLiteral("耗时%1秒。").arg(counts.seconds);
    return line;
}

bool WriteReport(const QString &reportPath, const QStringList &nativePaths)
{
    QString text;
    for (const QString &path : nativePaths) {
        text += path;
        text += QLatin1String("\r\n");
    }
    // GBK whatever the system's code page: the users' viewers read these lists as GBK.
    return WriteTextFile(reportPath, GbkCodec()->fromUnicode(text));
}
