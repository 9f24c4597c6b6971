#include "engine/files/FileNames.h"

#include "platform/Folder.h"

#include <QDir>
#include <QStringView>
#include <QTextCodec>

namespace {

const ushort firstEscape = 0xDC80;
const ushort lastEscape = 0xDCFF;

// A low surrogate in the escape range that is not the second half of a pair: U+10080, for
// one, is the pair D800 DC80.
bool IsEscapeAt(const QString &text, int i)
{
    const ushort c = text.at(i).unicode();
    return c >= firstEscape && c <= lastEscape && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

QChar Escape(unsigned char byte)
{
    return QChar(static_cast<ushort>(0xDC00 | byte));
}

bool LocaleIsUtf8()
{
    static const bool utf8 = QTextCodec::codecForLocale()->mibEnum() == 106;
    return utf8;
}

// The code point of the well-formed UTF-8 sequence at bytes[i], and its length; 0 when the
// bytes there are not one.
int Utf8Sequence(const unsigned char *bytes, int size, int i, uint &codePoint)
{
    const unsigned char lead = bytes[i];
    int length;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0)
            secondMin = 0xA0; // overlong
        else if (lead == 0xED)
            secondMax = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0)
            secondMin = 0x90; // overlong
        else if (lead == 0xF4)
            secondMax = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (size - i < length || bytes[i + 1] < secondMin || bytes[i + 1] > secondMax)
        return 0;
    for (int k = 1; k < length; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (bytes[i + k] & 0x3F);
    }
    return length;
}

QString DecodeUtf8Escaped(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const int size = bytes.size();
    QString text;
    text.reserve(size);
    for (int i = 0; i < size;) {
        uint codePoint = 0;
        const int length = Utf8Sequence(data, size, i, codePoint);
        if (length == 0) {
            text += Escape(data[i]);
            ++i;
            continue;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            text += QChar(QChar::highSurrogate(codePoint));
            text += QChar(QChar::lowSurrogate(codePoint));
        } else {
            text += QChar(static_cast<ushort>(codePoint));
        }
        i += length;
    }
    return text;
}

// Another locale: its own decoding when that gives the bytes back, else every byte above
// ASCII kept as it is.
QString DecodeLocaleEscaped(const QByteArray &bytes)
{
    const QString text = QString::fromLocal8Bit(bytes);
    if (!HasUndecodedBytes(text) && text.toLocal8Bit() == bytes)
        return text;
    QString escaped;
    escaped.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        escaped += value < 0x80 ? QLatin1Char(byte) : Escape(value);
    }
    return escaped;
}

} // namespace

QString DecodeFileName(const QByteArray &bytes)
{
    return LocaleIsUtf8() ? DecodeUtf8Escaped(bytes) : DecodeLocaleEscaped(bytes);
}

namespace {

// Runs of text go through encodeRun, each undecoded byte is written as itself.
template <typename EncodeRun>
bool EncodeRuns(const QString &text, QByteArray &bytes, EncodeRun encodeRun)
{
    int runStart = 0;
    const int size = text.size();
    for (int i = 0; i <= size; ++i) {
        if (i < size && !IsEscapeAt(text, i))
            continue;
        if (i > runStart && !encodeRun(QStringView(text).mid(runStart, i - runStart), bytes))
            return false;
        if (i < size)
            bytes += static_cast<char>(text.at(i).unicode() & 0xFF);
        runStart = i + 1;
    }
    return true;
}

} // namespace

QByteArray EncodeFileName(const QString &path)
{
    if (!HasUndecodedBytes(path))
        return LocaleIsUtf8() ? path.toUtf8() : path.toLocal8Bit();
    QByteArray bytes;
    EncodeRuns(path, bytes, [](QStringView run, QByteArray &out) {
        out += run.toString().toLocal8Bit();
        return true;
    });
    return bytes;
}

std::optional<QByteArray> EncodeKeepingBytes(const QString &text, QTextCodec *codec)
{
    QByteArray bytes;
    const bool whole = EncodeRuns(text, bytes, [codec](QStringView run, QByteArray &out) {
        // The header flag keeps a UTF-8 or UTF-16 encoder from putting a mark in front.
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        const QByteArray encoded =
            codec->fromUnicode(run.data(), static_cast<int>(run.size()), &state);
        out += encoded;
        // Some characters are only approximated, without being counted as invalid.
        QTextCodec::ConverterState back(QTextCodec::IgnoreHeader);
        return state.invalidChars == 0 && state.remainingChars == 0 &&
               codec->toUnicode(encoded.constData(), encoded.size(), &back) == run;
    });
    if (!whole)
        return std::nullopt;
    return bytes;
}

bool HasUndecodedBytes(const QString &text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (IsEscapeAt(text, i))
            return true;
    }
    return false;
}

namespace {

// Overloads on the system's path type, so neither half needs a branch on the system.
[[maybe_unused]] void Convert(const QString &path, std::string &native)
{
    const QByteArray bytes = EncodeFileName(path);
    native.assign(bytes.constData(), std::size_t(bytes.size()));
}

[[maybe_unused]] void Convert(const QString &path, std::wstring &native)
{
    native = QDir::toNativeSeparators(path).toStdWString();
}

[[maybe_unused]] QString Back(const std::string &native)
{
    // Read in place: a scan decodes every name of the tree.
    return DecodeFileName(QByteArray::fromRawData(native.data(), int(native.size())));
}

[[maybe_unused]] QString Back(const std::wstring &native)
{
    return QDir::fromNativeSeparators(QString::fromStdWString(native));
}

} // namespace

platform::NativePath ToNativePath(const QString &path)
{
    platform::NativePath native;
    Convert(path, native);
    return native;
}

QString FromNativePath(const platform::NativePath &path)
{
    return Back(path);
}

namespace {

// Error words are text, not names: no byte of them is kept as a name's would be, and a
// backslash in them is no separator.
[[maybe_unused]] QString ErrorWords(const std::string &text)
{
    const QString decoded = Back(text);
    return HasUndecodedBytes(decoded) ? QString::fromLocal8Bit(text.c_str()) : decoded;
}

[[maybe_unused]] QString ErrorWords(const std::wstring &text)
{
    return QString::fromStdWString(text);
}

} // namespace

QString SystemErrorText(int code)
{
    return ErrorWords(platform::ErrorText(code));
}
