// Holds the title parser and the numeric conversions against the reference.
//
// Input bytes become characters one to one (Latin-1), except that 0xFF
// takes the next two bytes as one UTF-16 code unit: the dictionary's
// separators stay plain text while any wide character can still appear.
#include "title_parser.h"
#include "title_reference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring Decode(const std::uint8_t* data, std::size_t size)
{
    std::wstring text;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            text.push_back(static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8)));
            i += 2;
        } else {
            text.push_back(static_cast<wchar_t>(data[i]));
        }
    }
    return text;
}

[[noreturn]] void Fail(const char* what, const std::wstring& text)
{
    std::fprintf(stderr, "mismatch in %s for title of %zu characters: \"%ls\"\n", what, text.size(), text.c_str());
    std::abort();
}

void CheckTitle(const std::wstring& text)
{
    const plavox::TitleParts got = plavox::SplitTrackTitle(text);
    const fuzzref::Parsed want = fuzzref::Parse(text);
    if (got.hasTrackNumber != want.hasTrackNumber || got.trackNumber != want.trackNumber) Fail("track number", text);
    if (got.isFileName != want.isFileName) Fail("file-name test", text);
    if (got.artist != want.artist) Fail("artist", text);
    if (got.title != want.title) Fail("title", text);

    const bool wants = plavox::TitleWantsParse(text, L"") ;
    if (wants != (!text.empty() && text.find(L'-') != std::wstring::npos)) Fail("parse test", text);
    if (plavox::TitleWantsParse(text, text)) Fail("parse test against itself", text);

    if (plavox::TrimBlanks(text) != fuzzref::Trim(text)) Fail("trim", text);
}

void CheckNumbers(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return;
    std::uint32_t bits;
    std::memcpy(&bits, data, 4);
    const auto value = static_cast<std::int32_t>(bits);
    if (plavox::DecimalText(value) != fuzzref::Decimal(value)) Fail("decimal text", fuzzref::Decimal(value));
    if (plavox::SecondsFromMilliseconds(value) != fuzzref::Seconds(value)) Fail("seconds", fuzzref::Decimal(value));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckTitle(Decode(data, size));
    CheckNumbers(data, size);
    return 0;
}
