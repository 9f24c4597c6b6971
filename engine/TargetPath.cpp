#include "TargetPath.h"

#include "JoinPath.h"

#include <QDir>
#include <QFileInfo>

QString TargetPath(const QString &sourcePath, const QString &relativePath, const QString &saveDir,
                   bool saveInSource)
{
    if (saveInSource)
        return QDir::toNativeSeparators(sourcePath);
    return QDir::toNativeSeparators(JoinPath(saveDir, relativePath));
}

bool IsSameFile(const QString &a, const QString &b)
{
    const QString realA = QFileInfo(a).canonicalFilePath();
    return !realA.isEmpty() && realA == QFileInfo(b).canonicalFilePath();
}
