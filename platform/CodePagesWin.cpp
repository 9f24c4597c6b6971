#include "platform/CodePages.h"

#include <windows.h>

namespace platform {

namespace {

UINT Number(CodePage codePage)
{
    return codePage == CodePage::Gb18030 ? 54936 : 950;
}

} // namespace

bool HasCodePages()
{
    // Both ship with every Windows since Vista; a system without them falls back to Qt's.
    static const bool installed = IsValidCodePage(54936) && IsValidCodePage(950);
    return installed;
}

std::u16string DecodeCodePage(CodePage codePage, const char *data, int size)
{
    if (size <= 0)
        return std::u16string();
    const UINT number = Number(codePage);
    const int length = MultiByteToWideChar(number, 0, data, size, nullptr, 0);
    std::u16string text(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0)
        MultiByteToWideChar(number, 0, data, size, reinterpret_cast<wchar_t *>(&text[0]), length);
    return text;
}

std::string EncodeCodePage(CodePage codePage, const char16_t *text, int size, bool &unmappable)
{
    unmappable = false;
    if (size <= 0)
        return std::string();
    const auto *wide = reinterpret_cast<const wchar_t *>(text);
    std::string bytes;
    if (codePage == CodePage::Gb18030) {
        // GB18030 holds every character; only a lone surrogate fails, and this code page
        // takes no default character, so the call is told to fail on it.
        const int length = WideCharToMultiByte(54936, WC_ERR_INVALID_CHARS, wide, size, nullptr, 0,
                                               nullptr, nullptr);
        if (length <= 0) {
            unmappable = true;
            return std::string();
        }
        bytes.resize(static_cast<std::size_t>(length));
        WideCharToMultiByte(54936, WC_ERR_INVALID_CHARS, wide, size, &bytes[0], length, nullptr,
                            nullptr);
        return bytes;
    }
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(950, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0,
                                           nullptr, &usedDefault);
    bytes.resize(static_cast<std::size_t>(length > 0 ? length : 0));
    if (length > 0)
        WideCharToMultiByte(950, WC_NO_BEST_FIT_CHARS, wide, size, &bytes[0], length, nullptr,
                            &usedDefault);
    unmappable = usedDefault != FALSE || length <= 0;
    return bytes;
}

} // namespace platform
