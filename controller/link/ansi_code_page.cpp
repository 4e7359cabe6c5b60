#include "ansi_code_page.h"

#include <windows.h>

#include <nj/text.h>

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
    const std::string bytes = nj::text::ToCodePage(code_page, {&wide, 1});
    if (bytes.empty()) return DefaultCharacterOf(code_page);
    return BigEndian(bytes.data(), static_cast<int>(bytes.size()));
}

std::uint32_t SystemAnsiCodeOf(char16_t ch) { return CodePageCodeOf(CP_ACP, ch); }

}  // namespace nightjar::link
