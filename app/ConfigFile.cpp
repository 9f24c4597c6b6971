#include "app/ConfigFile.h"

#include "engine/files/SettingsFiles.h"

#include <limits>

namespace {

const QByteArray lineEnd("\r\n");

bool IsBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray TrimBlanksAndTabs(const QByteArray &text)
{
    int begin = 0;
    int end = text.size();
    while (begin < end && IsBlankOrTab(text.at(begin)))
        ++begin;
    while (end > begin && IsBlankOrTab(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

// Where "key=" opens the first line that it opens, blanks and tabs before it allowed; -1 when
// none does. Found inside a value, it would be another key's text.
int FindKeyLine(const QByteArray &content, const QByteArray &key)
{
    const QByteArray match = key + '=';
    for (int at = content.indexOf(match); at >= 0; at = content.indexOf(match, at + 1)) {
        int lineStart = at;
        while (lineStart > 0 && IsBlankOrTab(content.at(lineStart - 1)))
            --lineStart;
        if (lineStart == 0 || content.at(lineStart - 1) == '\n' ||
            content.at(lineStart - 1) == '\r')
            return at;
    }
    return -1;
}

// The first CR or LF from from on, or -1.
int LineEnd(const QByteArray &content, int from)
{
    for (int i = from; i < content.size(); ++i) {
        if (content.at(i) == '\r' || content.at(i) == '\n')
            return i;
    }
    return -1;
}

} // namespace

int ReadConfigFile(QByteArray &content, const QString &path)
{
    return ReadFileStart(path, SETTINGS_BUFFER_SIZE - 1, content) ? 0 : -1;
}

QByteArray GetConfigValue(const QByteArray &content, const QByteArray &key)
{
    const int found = FindKeyLine(content, key);
    if (found < 0)
        return QByteArray();
    const int begin = found + key.size() + 1;
    const int end = LineEnd(content, begin);
    if (end < 0)
        return QByteArray(); // a line cut off, possibly by the read buffer
    const QByteArray value = TrimBlanksAndTabs(content.mid(begin, end - begin));
    return value.size() < CONFIG_VALUE_SIZE ? value : QByteArray();
}

int SetConfigValue(const QString &path, const QByteArray &key, const QByteArray &value)
{
    // A line break in either would plant a line of its own in the file, and blanks around
    // the key would make it another key's line.
    if (key.isEmpty() || key.contains('=') || key.contains('\r') || key.contains('\n') ||
        TrimBlanksAndTabs(key) != key || value.contains('\r') || value.contains('\n'))
        return -1;

    QByteArray old;
    if (!ReadFileStart(path, std::numeric_limits<int>::max(), old))
        return -1;

    const QByteArray line = key + '=' + value + lineEnd;
    const int found = FindKeyLine(old, key);
    QByteArray content;
    if (found >= 0) {
        // The old line ends at CR LF, CR or LF, so a file saved with bare line feeds keeps
        // the lines that follow.
        content = old.left(found) + line;
        const int end = LineEnd(old, found + key.size() + 1);
        if (end >= 0)
            content += old.mid(end + (old.mid(end, 2) == lineEnd ? 2 : 1));
    } else {
        content = old;
        if (!old.isEmpty() && !old.endsWith('\n'))
            content += lineEnd;
        content += line;
    }

    return ReplaceSettingsFile(path, content) ? 0 : -1;
}

QByteArray ToConfigBytes(const QString &text)
{
    return text.toLocal8Bit();
}

QString FromConfigBytes(const QByteArray &bytes)
{
    return QString::fromLocal8Bit(bytes);
}
