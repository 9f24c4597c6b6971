#include "BatchSettings.h"

BatchSettings batchSettings;

const QString reportUnreadableName = QStringLiteral("无法打开修改的文件目录(文件格式有误).txt");
const QString reportMatchedName = QStringLiteral("包含内容并成功修改的文件目录.txt");
const QString reportUnmatchedName = QStringLiteral("不包含内容无修改的文件目录.txt");

QStringList SplitLines(const QString &plainText)
{
    return plainText.split(QLatin1Char('\n'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

static bool IsSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
#else
    return c == QLatin1Char('/');
#endif
}

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    int folderEnd = folder.size();
    while (folderEnd > 1 && IsSeparator(folder.at(folderEnd - 1)))
        --folderEnd;
    int nameStart = 0;
    while (nameStart < name.size() && IsSeparator(name.at(nameStart)))
        ++nameStart;
    QString joined = folder.left(folderEnd);
    if (!IsSeparator(joined.back()))
        joined += QLatin1Char('/');
    joined += name.midRef(nameStart);
    return joined;
}

void SetReportPaths(BatchSettings &settings)
{
    settings.reportUnreadablePath = JoinPath(settings.sourceDir, reportUnreadableName);
    settings.reportMatchedPath = JoinPath(settings.sourceDir, reportMatchedName);
    settings.reportUnmatchedPath = JoinPath(settings.sourceDir, reportUnmatchedName);
}
