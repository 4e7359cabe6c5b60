// Text between the three encodings a Windows program here meets: UTF-8
// (pipes, logs, the harness), UTF-16 (the W calls, BSTRs) and the ANSI code
// page (the A calls, the player's window title, the link's bytes).
//
// What does not fit follows the link's rule: a character a code page lacks
// becomes the code page's default character ('?' for the Western ones), never
// a look-alike, so that a name cannot turn into another existing name. Bytes
// that are no valid UTF-8, and lone surrogates, become U+FFFD.
#pragma once

#include <windows.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <string_view>

namespace nj::text {

namespace detail {

inline int CheckedLength(size_t length)
{
    if (length > static_cast<size_t>(INT_MAX)) throw std::length_error("text too long to convert");
    return static_cast<int>(length);
}

inline int ToBytes(UINT code_page, std::wstring_view wide, char* out, int room) noexcept
{
    const int length = static_cast<int>(wide.size());
    if (code_page == CP_UTF8)
        return ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, out, room, nullptr, nullptr);
    int count =
        ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(), length, out, room, nullptr, nullptr);
    // A few code pages (the UTF ones, ISO-2022 and the like) take no flags.
    if (count == 0 && ::GetLastError() == ERROR_INVALID_FLAGS)
        count = ::WideCharToMultiByte(code_page, 0, wide.data(), length, out, room, nullptr, nullptr);
    return count;
}

}  // namespace detail

// The text in `code_page`; empty where the code page cannot be used at all.
inline std::string ToCodePage(UINT code_page, std::wstring_view wide)
{
    if (wide.empty()) return {};
    detail::CheckedLength(wide.size());
    const int size = detail::ToBytes(code_page, wide, nullptr, 0);
    if (size <= 0) return {};
    std::string bytes(static_cast<size_t>(size), '\0');
    const int written = detail::ToBytes(code_page, wide, bytes.data(), size);
    bytes.resize(static_cast<size_t>(written > 0 ? written : 0));
    return bytes;
}

inline std::wstring FromCodePage(UINT code_page, std::string_view bytes)
{
    if (bytes.empty()) return {};
    const int length = detail::CheckedLength(bytes.size());
    const int size = ::MultiByteToWideChar(code_page, 0, bytes.data(), length, nullptr, 0);
    if (size <= 0) return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    const int written = ::MultiByteToWideChar(code_page, 0, bytes.data(), length, wide.data(), size);
    wide.resize(static_cast<size_t>(written > 0 ? written : 0));
    return wide;
}

inline std::string ToUtf8(std::wstring_view wide) { return ToCodePage(CP_UTF8, wide); }
inline std::wstring FromUtf8(std::string_view utf8) { return FromCodePage(CP_UTF8, utf8); }

// The system's ANSI code page, the one every A call uses.
inline std::string ToAnsi(std::wstring_view wide) { return ToCodePage(CP_ACP, wide); }
inline std::wstring FromAnsi(std::string_view ansi) { return FromCodePage(CP_ACP, ansi); }

// A BSTR or other possibly null string, as a view.
inline std::wstring_view View(const wchar_t* text) noexcept
{
    return text ? std::wstring_view(text) : std::wstring_view();
}

}  // namespace nj::text
