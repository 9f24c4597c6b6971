#include "platform/CodePage936.h"

namespace platform {

bool HasCodePage936()
{
    return false;
}

bool UsesCodePage936()
{
    return false;
}

std::u16string DecodeCodePage936(const char *, int)
{
    return std::u16string();
}

std::string EncodeCodePage936(const char16_t *, int, bool &unmappable)
{
    unmappable = true;
    return std::string();
}

} // namespace platform
