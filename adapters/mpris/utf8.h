// The folder's one UTF-8 decoder, header-only so that every build and
// fuzz target that needs it gets it without another source to list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mpris_bridge {

struct CodePoint {
    char32_t value = 0;
    size_t length = 0;  // bytes taken; 0 when the bytes at that place are not a well-formed character
};

// The character starting at `at`: shortest form only, no surrogates, nothing
// past U+10FFFF.
inline CodePoint DecodeAt(std::string_view text, size_t at) noexcept
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80) return {lead, 1};
    size_t length = 0;
    char32_t point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
    } else {
        return {};
    }
    if (at + length > text.size()) return {};
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return {};
        point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && point < 0x800) || (length == 4 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {};
    return {point, length};
}

// Broken sequences become U+FFFD, one per byte that starts none.
inline std::u32string DecodeUtf8(std::string_view text)
{
    std::u32string out;
    for (size_t i = 0; i < text.size();) {
        const CodePoint c = DecodeAt(text, i);
        out += c.length ? c.value : U'\uFFFD';
        i += c.length ? c.length : 1;
    }
    return out;
}

inline void AppendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

inline std::string EncodeUtf8(std::u32string_view text)
{
    std::string out;
    for (const char32_t c : text) AppendUtf8(c, out);
    return out;
}

}  // namespace mpris_bridge
