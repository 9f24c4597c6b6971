#include "engine/files/SettingsFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

bool ReadFileStart(const QString &path, qint64 maxBytes, QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    bytes = file.read(maxBytes);
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool ReplaceSettingsFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(bytes);
    return out.commit();
}

QString AbsoluteCleanPath(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}
