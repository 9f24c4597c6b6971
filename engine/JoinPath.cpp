#include "JoinPath.h"

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
