#include "ansi_code_page.h"

#include <windows.h>

namespace nightjar::link {
namespace {

std::uint32_t BigEndian(const char* bytes, int count)
{
    std::uint32_t code = 0;
    for (int i = 0; i < count; ++i) code = (code << 8) | static_cast<unsigned char>(bytes[i]);
    return code;
}

std::uint32_t DefaultCharacterOf(unsigned code_page)
{
    CPINFO info{};
    if (!::GetCPInfo(code_page, &info)) return '?';
    const int count = info.MaxCharSize > 1 && info.DefaultChar[1] != 0 ? 2 : 1;
    return BigEndian(reinterpret_cast<const char*>(info.DefaultChar), count);
}

}  // namespace

std::uint32_t CodePageCodeOf(unsigned code_page, char16_t ch)
{
    const wchar_t wide = static_cast<wchar_t>(ch);
    char bytes[4];
    int count = ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof(bytes), nullptr,
                                      nullptr);
    // UTF-8 and a few other code pages take no flags at all.
    if (count == 0 && ::GetLastError() == ERROR_INVALID_FLAGS)
        count = ::WideCharToMultiByte(code_page, 0, &wide, 1, bytes, sizeof(bytes), nullptr, nullptr);
    if (count <= 0) return DefaultCharacterOf(code_page);
    return BigEndian(bytes, count);
}

std::uint32_t SystemAnsiCodeOf(char16_t ch) { return CodePageCodeOf(CP_ACP, ch); }

}  // namespace nightjar::link
