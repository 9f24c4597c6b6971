#pragma once

#include <QByteArray>
#include <QtGlobal>

// Appends the UTF-8 of GBK bytes as DecodeBytes reads them and QString::toUtf8 writes them,
// from a table of every character made once through that same decoder: a plan shows many
// changed GBK lines, and starting the codec for each costs more than the lines. False, with
// part of the text appended, when the bytes are not clean GBK or hold a character the table
// could not settle (one that does not decode to a single code unit on its own); the caller
// then decodes them.
bool AppendGbkAsUtf8(const char *data, qsizetype size, QByteArray &utf8);
