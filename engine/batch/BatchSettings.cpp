#include "engine/batch/BatchSettings.h"

#include <QCoreApplication>

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

QString ChineseConfigName(ChineseConfig config)
{
    switch (config) {
    case ChineseConfig::T2s:
        return QStringLiteral("t2s");
    case ChineseConfig::S2t:
        return QStringLiteral("s2t");
    case ChineseConfig::S2twp:
        return QStringLiteral("s2twp");
    case ChineseConfig::S2hk:
        return QStringLiteral("s2hk");
    case ChineseConfig::Tw2sp:
        return QStringLiteral("tw2sp");
    case ChineseConfig::Hk2s:
        break;
    }
    return QStringLiteral("hk2s");
}

bool ChineseConfigFromName(const QString &name, ChineseConfig &config)
{
    for (const ChineseConfig each : chineseConfigs) {
        if (ChineseConfigName(each) == name) {
            config = each;
            return true;
        }
    }
    return false;
}

QString ChineseConfigTitle(ChineseConfig config)
{
    switch (config) {
    case ChineseConfig::T2s:
        return QCoreApplication::translate("ChineseConfig", "Traditional → simplified");
    case ChineseConfig::S2t:
        return QCoreApplication::translate("ChineseConfig", "Simplified → traditional");
    case ChineseConfig::S2twp:
        return QCoreApplication::translate("ChineseConfig",
                                           "Simplified → Taiwan traditional (with phrases)");
    case ChineseConfig::S2hk:
        return QCoreApplication::translate("ChineseConfig", "Simplified → Hong Kong traditional");
    case ChineseConfig::Tw2sp:
        return QCoreApplication::translate("ChineseConfig",
                                           "Taiwan traditional → simplified (with phrases)");
    case ChineseConfig::Hk2s:
        break;
    }
    return QCoreApplication::translate("ChineseConfig", "Hong Kong traditional → simplified");
}
