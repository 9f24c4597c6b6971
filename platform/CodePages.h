#pragma once

#include <string>

// Windows' own conversions for the other Chinese code pages: 54936 (GB18030) and 950 (Big5),
// so that files read and written here agree with what Windows programs make of them.
namespace platform {

enum class CodePage
{
    Gb18030, // 54936
    Big5,    // 950
};

// True on Windows (with both code pages installed), where the calls below convert; elsewhere
// they give nothing, and the codecs are ICU's gb18030 and windows-950.
bool HasCodePages();

// Bytes the code page does not define become a default character, so only a round trip
// tells whether the text is whole.
std::u16string DecodeCodePage(CodePage codePage, const char *data, int size);

// `unmappable` is set when a character has no form in the code page. Nothing is
// approximated.
std::string EncodeCodePage(CodePage codePage, const char16_t *text, int size, bool &unmappable);

} // namespace platform
