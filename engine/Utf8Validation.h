#pragma once

#include <QtGlobal>

// True when the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, and no sequence cut off at the end.
bool IsValidUtf8(const char *data, qsizetype size);
