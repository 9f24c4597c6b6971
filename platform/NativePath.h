#pragma once

#include <string>
#include <string_view>

namespace platform {

// A path as the system takes it: the file system's own bytes on POSIX, UTF-16 code units for
// the wide Win32 calls on Windows.
#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif
using NativePathView = std::basic_string_view<NativePath::value_type>;

} // namespace platform
