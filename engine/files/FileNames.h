#pragma once

#include "platform/NativePath.h"

#include <QByteArray>
#include <QString>
#include <optional>

class QTextCodec;

// File names as the system stores them. On POSIX a name is bytes in no declared encoding:
// ZIP archives from Chinese Windows unpack to GBK names. Such names are kept whole in a
// QString: each byte that is not part of the locale's text becomes one of U+DC80..U+DCFF,
// which no decoder ever yields, and goes back to disk as the same byte. Every path the engine
// hands to the system passes through EncodeFileName, never QFile::encodeName, which would
// turn those characters into "?".

QString DecodeFileName(const QByteArray &bytes);
QByteArray EncodeFileName(const QString &path);

// True when the text holds a byte that DecodeFileName could not read as text.
bool HasUndecodedBytes(const QString &text);

// The text in codec, each byte that DecodeFileName could not read written back as itself;
// nothing when codec cannot represent some character of the text.
std::optional<QByteArray> EncodeKeepingBytes(const QString &text, QTextCodec *codec);

// The one place a path becomes what the system takes: EncodeFileName's bytes on POSIX, UTF-16
// with native separators on Windows; and back.
platform::NativePath ToNativePath(const QString &path);
QString FromNativePath(const platform::NativePath &path);

// The system's words for an error code of platform/ (errno, GetLastError, or its refusals).
QString SystemErrorText(int code);
