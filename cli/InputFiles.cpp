#include "cli/InputFiles.h"

#include "engine/batch/BatchSettings.h"

#include "engine/files/SettingsFiles.h"

#include <QTextCodec>

namespace {

bool ReadUtf8File(const QString &path, QString &text, QString &error)
{
    // A device such as /dev/zero never ends; one byte past the limit tells a file too large.
    QByteArray bytes;
    QString systemError;
    if (!ReadFileStart(path, inputFileLimit + 1, bytes, &systemError)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, systemError);
        return false;
    }
    if (bytes.size() > inputFileLimit) {
        error = QStringLiteral("%1 is larger than %2 MiB").arg(path).arg(inputFileLimit >> 20);
        return false;
    }
    // A byte-order mark is how some editors label UTF-8; it is not part of the text.
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    text = QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars != 0 || state.remainingChars != 0) {
        error = QStringLiteral("%1 is not UTF-8 text").arg(path);
        return false;
    }
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return true;
}

} // namespace

bool ReadLineListFile(const QString &path, QStringList &lines, QString &error)
{
    QString text;
    if (!ReadUtf8File(path, text, error))
        return false;
    if (text.isEmpty()) {
        lines.clear();
        return true;
    }
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    lines = SplitLines(text);
    return true;
}

bool ReadWholeTextFile(const QString &path, QString &text, QString &error)
{
    return ReadUtf8File(path, text, error);
}
