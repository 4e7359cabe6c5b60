// Text from players in the form people type it: letters written with
// separate accents ("e" + U+0301, as files are often tagged on some
// systems) composed into one character (NFC), so that the ANSI code page's
// "é" is found for them.
#pragma once

#include <string>
#include <string_view>

namespace mpris_helper {

// Broken UTF-8 comes back with U+FFFD for what could not be read.
std::string ComposedText(std::string_view utf8);

}  // namespace mpris_helper
