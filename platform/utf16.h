// Windows keeps names in UTF-16; the program keeps them in UTF-8. These convert at the
// boundary, so that no name ever passes through the ANSI code page.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace velindra {

// A UTF-8 name as a path on every system; a plain std::string would be read in the ANSI code
// page on Windows.
inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// ... and back.
inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

}  // namespace velindra

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <string_view>

namespace velindra {

inline std::wstring Utf16(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

inline std::string Utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
    return utf8;
}

}  // namespace velindra
#endif
