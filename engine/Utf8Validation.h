#pragma once

#include <QtGlobal>

// True when the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, and no sequence cut off at the end.
bool IsValidUtf8(const char *data, qsizetype size);

// The length of a sequence cut off at the very end (a lead byte C2-F4 followed by fewer
// continuation bytes than it needs), or 0. Qt's UTF-8 decoder counts such a tail as missing
// input, not as invalid input, and leaves it out of the text.
int Utf8CutOffTail(const char *data, qsizetype size);
