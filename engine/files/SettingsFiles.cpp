#include "engine/files/SettingsFiles.h"

#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

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

QString ChooseSettingsFile(const QString &besideProgram, const QString &userFolder)
{
    if (QFileInfo::exists(besideProgram))
        return besideProgram;
    const QString path = JoinPath(userFolder, QStringLiteral("Parafold.cvn"));
    // Without the file the folders are not remembered; the window still works.
    if (!QFileInfo::exists(path) && MakeFolderPath(userFolder))
        ReplaceSettingsFile(path, QByteArray());
    return path;
}

QString PathHandedOver(const QString &given)
{
    QString path = given;
    if (path.size() >= 2 && path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"')))
        path = path.mid(1, path.size() - 2);
    // QUrl would drop a blank at the end, which a URL itself never holds unescaped.
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) && !path.back().isSpace()) {
        const QUrl url(path);
        if (url.isLocalFile())
            path = QDir::toNativeSeparators(url.toLocalFile());
    }
    return path;
}

QString FolderHandedOver(const QString &given)
{
    const QString path = PathHandedOver(given);
    if (path.isEmpty())
        return path;
    const QFileInfo info(path);
    if (info.isFile())
        return QDir::toNativeSeparators(info.absolutePath());
    return path;
}

QString FolderArgument(const QString &argument)
{
    const QString path = PathHandedOver(argument);
    if (path.isEmpty())
        return path;
    return QDir::toNativeSeparators(QDir::current().absoluteFilePath(path));
}

QString AbsoluteCleanPath(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QString RuleTablesFolder(const QString &settingsFile)
{
    return JoinPath(QFileInfo(settingsFile).absolutePath(), QStringLiteral("rules"));
}

QStringList RuleTableNames(const QString &folder)
{
    QDir dir(folder);
    return dir.entryList({QStringLiteral("*.txt")}, QDir::Files | QDir::Readable,
                         QDir::Name | QDir::IgnoreCase);
}
