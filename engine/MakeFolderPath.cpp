#include "MakeFolderPath.h"

#include <QDir>
#include <QFileInfo>

bool MakeFolderPath(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (info.exists())
        return info.isDir();
    return QDir().mkpath(path) && QFileInfo(path).isDir();
}
