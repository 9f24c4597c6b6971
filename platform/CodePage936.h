#pragma once

#include <string>

// Windows' own conversions for code page 936, GBK as Notepad reads and writes it: the euro
// sign at 80, the user-defined areas in the private use area.
namespace platform {

// True on Windows, where the calls below convert; elsewhere they give nothing, and GBK is
// Qt's (ICU's windows-936).
bool HasCodePage936();

// True on Windows when the system's code page is 936 (GBK): a Chinese Windows, whatever the
// language of its user interface.
bool UsesCodePage936();

// Bytes the code page does not define become a default character, so only a round trip
// tells whether the text is whole.
std::u16string DecodeCodePage936(const char *data, int size);

// `unmappable` is set when a character has no form in the code page; "?" stands for it.
// Nothing is approximated: "é" does not become "e".
std::string EncodeCodePage936(const char16_t *text, int size, bool &unmappable);

} // namespace platform
