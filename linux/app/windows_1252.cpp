#include "windows_1252.h"

#include "title_compose.h"

namespace nightjar::native {
namespace {

// Bytes 0x80-0x9F; the five the code page leaves unassigned map to the
// control characters of the same number, as Windows' own table does.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::uint32_t Windows1252CodeOf(char16_t ch)
{
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return ch;
    for (std::uint32_t i = 0; i < 32; ++i)
        if (kHighControls[i] == ch) return 0x80 + i;
    return '?';
}

std::u16string Utf16OfUtf8(std::string_view utf8)
{
    std::u16string out;
    for (const char32_t c : mpris_bridge::DecodeUtf8(utf8)) out += c > 0xFFFF ? u'\uFFFD' : static_cast<char16_t>(c);
    return out;
}

std::string Utf8OfWindows1252(std::string_view bytes)
{
    std::u32string text;
    for (const char b : bytes) {
        const auto byte = static_cast<unsigned char>(b);
        text += byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    }
    return mpris_bridge::EncodeUtf8(text);
}

}  // namespace nightjar::native
