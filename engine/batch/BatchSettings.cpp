#include "engine/batch/BatchSettings.h"

#include "engine/files/Paths.h"

BatchSettings batchSettings;

const QString reportUnreadableName = QStringLiteral("无法打开修改的文件目录(文件格式有误).txt");
const QString reportMatchedName = QStringLiteral("包含内容并成功修改的文件目录.txt");
const QString reportUnmatchedName = QStringLiteral("不包含内容无修改的文件目录.txt");
const QString reportRuleHitsName = QStringLiteral("替换规则命中次数.txt");

QStringList SplitLines(const QString &plainText)
{
    return plainText.split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

void SetReportPaths(BatchSettings &settings)
{
    settings.reportUnreadablePath = JoinPath(settings.sourceDir, reportUnreadableName);
    settings.reportMatchedPath = JoinPath(settings.sourceDir, reportMatchedName);
    settings.reportUnmatchedPath = JoinPath(settings.sourceDir, reportUnmatchedName);
}
