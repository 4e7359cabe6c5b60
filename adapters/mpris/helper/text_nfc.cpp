#include "text_nfc.h"

#include "glib_ptr.h"

namespace mpris_helper {

std::string ComposedText(std::string_view utf8)
{
    const gchar_ptr valid(g_utf8_make_valid(utf8.data(), static_cast<gssize>(utf8.size())));
    const gchar_ptr composed(g_utf8_normalize(valid.get(), -1, G_NORMALIZE_NFC));
    return composed ? composed.get() : valid.get();
}

}  // namespace mpris_helper
