#include "platform/CodePage936.h"

#include <windows.h>

namespace platform {

bool HasCodePage936()
{
    return true;
}

bool UsesCodePage936()
{
    return GetACP() == 936;
}

namespace {

const UINT codePage = 936;

} // namespace

std::u16string DecodeCodePage936(const char *data, int size)
{
    if (size <= 0)
        return std::u16string();
    const int length = MultiByteToWideChar(codePage, 0, data, size, nullptr, 0);
    std::u16string text(static_cast<std::size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, data, size, reinterpret_cast<wchar_t *>(&text[0]), length);
    return text;
}

std::string EncodeCodePage936(const char16_t *text, int size, bool &unmappable)
{
    unmappable = false;
    if (size <= 0)
        return std::string();
    const auto *wide = reinterpret_cast<const wchar_t *>(text);
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, nullptr, 0,
                                           nullptr, &usedDefault);
    std::string bytes(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, size, &bytes[0], length, nullptr,
                            &usedDefault);
    unmappable = usedDefault != FALSE || length <= 0;
    return bytes;
}

} // namespace platform
