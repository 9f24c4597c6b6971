#pragma once

#include <QByteArray>
#include <QString>

// The key/value settings file: one line per key, key "=" value CR LF, in the system's
// local 8-bit encoding.

constexpr int SETTINGS_BUFFER_SIZE = 10240; // whole file and a terminating zero
constexpr int CONFIG_VALUE_SIZE = 1024;     // one value and a terminating zero

// Reads the file, at most SETTINGS_BUFFER_SIZE - 1 bytes of it, into `content`. Returns 0,
// or -1 with `content` unchanged when the file cannot be opened.
int ReadConfigFile(QByteArray &content, const QString &path);

// The value of the first line that starts with "key=" (blanks and tabs before it allowed),
// up to the CR or LF that ends it, without surrounding blanks and tabs. Empty when the key
// is absent, its line has no end, or the value is longer than CONFIG_VALUE_SIZE - 1 bytes.
QByteArray GetConfigValue(const QByteArray &content, const QByteArray &key);

// Replaces the line of `key` (found as GetConfigValue finds it) with key "=" value CR LF,
// or appends that line, and replaces the file whole (rewrites it in place where its folder
// may not be written). Returns 0; -1 when the file cannot be read or replaced, or when the
// key or value would break the line format. Never creates the file.
int SetConfigValue(const QString &path, const QByteArray &key, const QByteArray &value);

// Folder texts go to the file in the local 8-bit encoding and come back from it.
QByteArray ToConfigBytes(const QString &text);
QString FromConfigBytes(const QByteArray &bytes);
