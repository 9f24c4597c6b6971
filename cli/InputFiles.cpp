#include "cli/InputFiles.h"

#include <QCoreApplication>

#include "engine/batch/BatchSettings.h"
#include "engine/codec/TextCodec.h"
#include "engine/files/SettingsFiles.h"

namespace {

// Read as the tree's files are: UTF-8, or GBK as Notepad saves by default on older Windows,
// or UTF-16 by its mark; bytes that none of them reads without loss are refused.
bool ReadInputText(const QString &path, QString &text, QString &error)
{
    // A device such as /dev/zero never ends; one byte past the limit tells a file too large.
    QByteArray bytes;
    QString systemError;
    if (!ReadFileStart(path, inputFileLimit + 1, bytes, &systemError)) {
        error =
            QCoreApplication::translate("InputFiles", "cannot read %1: %2").arg(path, systemError);
        return false;
    }
    if (bytes.size() > inputFileLimit) {
        error = QCoreApplication::translate("InputFiles", "%1 is larger than %2 MiB")
                    .arg(path)
                    .arg(inputFileLimit >> 20);
        return false;
    }
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, true));
    if (!decoded.lossless) {
        error =
            QCoreApplication::translate("InputFiles", "%1 is neither UTF-8 nor GBK text").arg(path);
        return false;
    }
    text = std::move(decoded.text);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return true;
}

} // namespace

bool ReadLineListFile(const QString &path, QStringList &lines, QString &error)
{
    QString text;
    if (!ReadInputText(path, text, error))
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
    return ReadInputText(path, text, error);
}
