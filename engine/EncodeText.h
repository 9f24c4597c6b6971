#pragma once

#include "TextEncoding.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The bytes of a text file: every line feed as CR LF, a byte-order mark always for UTF-16,
// for UTF-8 only when withBom is set, never for GBK. Nothing when the encoding cannot
// represent some character of the text.
std::optional<QByteArray> EncodeText(const QString &text, TextEncoding encoding, bool withBom);
