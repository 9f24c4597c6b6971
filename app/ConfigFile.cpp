#include "app/ConfigFile.h"

#include <QFile>
#include <QSaveFile>

namespace {

const QByteArray lineEnd("\r\n");

QByteArray TrimBlanksAndTabs(const QByteArray &text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && (text.at(begin) == ' ' || text.at(begin) == '\t'))
        ++begin;
    while (end > begin && (text.at(end - 1) == ' ' || text.at(end - 1) == '\t'))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

int ReadConfigFile(QByteArray &content, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    content = file.read(SETTINGS_BUFFER_SIZE - 1);
    return 0;
}

QByteArray GetConfigValue(const QByteArray &content, const QByteArray &key)
{
    const QByteArray match = key + '=';
    const int found = content.indexOf(match);
    if (found < 0)
        return QByteArray();
    const int begin = found + match.size();
    const int end = content.indexOf(lineEnd, begin);
    if (end < 0)
        return QByteArray();
    const QByteArray value = TrimBlanksAndTabs(content.mid(begin, end - begin));
    return value.size() < CONFIG_VALUE_SIZE ? value : QByteArray();
}

int SetConfigValue(const QString &path, const QByteArray &key, const QByteArray &value)
{
    // A line break in either would plant a line of its own in the file.
    if (key.isEmpty() || key.contains('=') || key.contains('\r') || key.contains('\n') ||
        value.contains('\r') || value.contains('\n'))
        return -1;

    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray old = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return -1;
    in.close();

    const QByteArray line = key + '=' + value + lineEnd;
    const int found = old.indexOf(key + '=');
    QByteArray content;
    if (found >= 0) {
        // The old line ends at its line feed, with or without a carriage return before
        // it, so a file saved with bare line feeds keeps the lines that follow.
        const int feed = old.indexOf('\n', found + key.size() + 1);
        content = old.left(found) + line;
        if (feed >= 0)
            content += old.mid(feed + 1);
    } else {
        content = old;
        if (!old.isEmpty() && !old.endsWith('\n'))
            content += lineEnd;
        content += line;
    }

    // Written beside the old file and renamed over it, so a crash leaves the old one; a
    // file that may be written in a folder that may not (installed by an administrator)
    // is written in place.
    QSaveFile out(path);
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return -1;
    out.write(content);
    return out.commit() ? 0 : -1;
}

QByteArray ToConfigBytes(const QString &text)
{
    return text.toLocal8Bit();
}

QString FromConfigBytes(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}
