// Windows only: the codes characters have in a code page, for SendString.
#pragma once

#include <cstdint>

namespace nightjar::link {

// The code of one character in the given code page: a single byte as 0 to
// 255, a character of two or more bytes as a value above 255 (their bytes
// big-endian), so that it cannot travel as one byte. A character the code
// page lacks becomes the code page's default character; no best-fit
// substitutes are taken.
std::uint32_t CodePageCodeOf(unsigned code_page, char16_t ch);

// CodePageCodeOf in the system's ANSI code page; an AnsiCodeOf for SendString.
std::uint32_t SystemAnsiCodeOf(char16_t ch);

}  // namespace nightjar::link
