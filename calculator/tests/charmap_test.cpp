// The Windows-1252 to large-font table as assembled into the program, read
// out of nightjar.bin by its symbol, against libticonv's map of the TI-83
// Plus font and glibc's Windows-1252: every glyph shown is the character that
// was sent, and every character the font has is shown as itself.
#include <ticonv.h>
#include <charset.h>  // libticonv: the TI-83 Plus font to UTF-16

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kFirstByte = 0x20;
constexpr int kTableSize = 0x100 - kFirstByte;
constexpr std::uint8_t kStandIn = 0xD0;
constexpr int kNoBreakSpace = 0xA0;

// Font codes whose glyph libticonv names exactly: printable ASCII (24h and 5Bh
// among them are other glyphs), the accented letters, ¨ ¿ ¡, [ and $.
bool TrustedGlyph(int code)
{
    return (code >= 0x20 && code <= 0x7E) || (code >= 0x8A && code <= 0xB5) || (code >= 0xB8 && code <= 0xBA) ||
           code == 0xC1 || code == 0xF2;
}

std::uint16_t FontChar(int code)
{
    const char ti[2] = {static_cast<char>(code), 0};
    unsigned short utf16[4] = {};
    ticonv_ti83p_to_utf16(ti, utf16);
    return utf16[0];
}

std::optional<std::uint16_t> Cp1252Char(int byte)
{
    iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
    char in[1] = {static_cast<char>(byte)};
    char out[4] = {};
    char* in_p = in;
    char* out_p = out;
    std::size_t in_left = 1, out_left = sizeof out;
    const bool ok = iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    if (!ok)
        return std::nullopt;  // a byte Windows-1252 leaves undefined
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(out[0]) | static_cast<std::uint8_t>(out[1]) << 8);
}

unsigned Symbol(const std::string& name)
{
    std::ifstream sym(NJ_CALC_SYM);
    std::string line;
    while (std::getline(sym, line)) {
        std::istringstream fields(line);
        std::string label, equ, value;
        if (fields >> label >> equ >> value && label == name)
            return std::stoul(value.substr(0, value.size() - 1), nullptr, 16);  // 0A06EH
    }
    ADD_FAILURE() << name << " is not in " << NJ_CALC_SYM;
    return 0;
}

std::vector<std::uint8_t> AssembledTable()
{
    std::ifstream in(NJ_CALC_BIN, std::ios::binary);
    const std::vector<std::uint8_t> code{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const unsigned offset = Symbol("cp1252_to_font") - Symbol("start");
    if (offset + kTableSize > code.size()) {
        ADD_FAILURE() << "the table runs past the end of " << NJ_CALC_BIN;
        return {};
    }
    return {code.begin() + offset, code.begin() + offset + kTableSize};
}

TEST(Charmap, EveryGlyphShownIsTheCharacterSent)
{
    const auto table = AssembledTable();
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kTableSize));
    for (int byte = kFirstByte; byte <= 0xFF; ++byte) {
        if (byte == 0x7F)
            continue;  // a control byte: the announcement is refused before the table
        const int code = table[byte - kFirstByte];
        if (code == kStandIn)
            continue;
        const std::uint16_t shown = byte == kNoBreakSpace ? u' ' : *Cp1252Char(byte);
        EXPECT_TRUE(TrustedGlyph(code)) << std::hex << "byte " << byte << " -> " << code;
        EXPECT_EQ(FontChar(code), shown) << std::hex << "byte " << byte << " -> " << code;
    }
}

TEST(Charmap, EveryCharacterTheFontHasIsShownAsItself)
{
    const auto table = AssembledTable();
    ASSERT_EQ(table.size(), static_cast<std::size_t>(kTableSize));
    for (int byte = kFirstByte; byte <= 0xFF; ++byte) {
        const auto sent = Cp1252Char(byte);
        if (byte == 0x7F || !sent)
            continue;
        for (int code = 0; code <= 0xFF; ++code) {
            if (TrustedGlyph(code) && FontChar(code) == *sent) {
                EXPECT_EQ(table[byte - kFirstByte], code) << std::hex << "byte " << byte;
                break;
            }
        }
    }
    EXPECT_NE(FontChar(kStandIn), u' ') << "the stand-in must be visible";
}

}  // namespace
