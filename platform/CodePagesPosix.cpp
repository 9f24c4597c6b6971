#include "platform/CodePages.h"

namespace platform {

bool HasCodePages()
{
    return false;
}

std::u16string DecodeCodePage(CodePage, const char *, int)
{
    return std::u16string();
}

std::string EncodeCodePage(CodePage, const char16_t *, int, bool &unmappable)
{
    unmappable = true;
    return std::string();
}

} // namespace platform
