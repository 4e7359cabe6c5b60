// The calculator's character set as the Windows system sends it: the ANSI
// code page of the machines Nightjar.exe runs on, Windows-1252.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nightjar::native {

// The byte of a character in Windows-1252, or '?' (the code page's default
// character) for one it lacks: an AnsiCodeOf for the link.
std::uint32_t Windows1252CodeOf(char16_t ch);

// UTF-8 text as the link sends it (characters outside the BMP become U+FFFD,
// which then goes as '?').
std::u16string Utf16OfUtf8(std::string_view utf8);

// Windows-1252 bytes as UTF-8, for showing announcements on a terminal.
std::string Utf8OfWindows1252(std::string_view bytes);

}  // namespace nightjar::native
