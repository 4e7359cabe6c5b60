// A plain transcription of the title rules, written the way the rules are
// stated: 1-based positions, first occurrences, Left/Mid cuts and a trim of
// blanks only. The fuzzer holds the real parser against it.
#pragma once

#include <cstdint>
#include <string>

namespace fuzzref {

// Position of the first occurrence of needle in text, 1-based; 0 if none.
inline std::size_t InStr(const std::wstring& text, const std::wstring& needle)
{
    if (needle.size() > text.size()) return 0;
    for (std::size_t i = 1; i + needle.size() - 1 <= text.size(); ++i) {
        bool same = true;
        for (std::size_t k = 0; k < needle.size(); ++k) {
            if (text[i - 1 + k] != needle[k]) same = false;
        }
        if (same) return i;
    }
    return 0;
}

inline std::wstring Left(const std::wstring& text, std::size_t n)
{
    return text.substr(0, n);
}

inline std::wstring Right(const std::wstring& text, std::size_t n)
{
    return text.substr(text.size() - n);
}

inline std::wstring Trim(std::wstring text)
{
    while (!text.empty() && text.front() == L' ') text.erase(0, 1);
    while (!text.empty() && text.back() == L' ') text.pop_back();
    return text;
}

inline std::wstring LowerAscii(std::wstring text)
{
    for (wchar_t& c : text) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + (L'a' - L'A'));
    }
    return text;
}

struct Parsed {
    bool hasTrackNumber = false;
    std::wstring trackNumber;
    bool isFileName = false;
    std::wstring artist;
    std::wstring title;
};

inline Parsed Parse(std::wstring t)
{
    Parsed out;
    const std::size_t p = InStr(t, L". ");
    if (p > 0) {
        out.hasTrackNumber = true;
        out.trackNumber = Left(t, p - 1);
        t = Right(t, t.size() - p - 1);
    }
    const std::size_t q = InStr(t, L" - Plavox");
    if (q > 0) t = Left(t, q - 1);
    if (InStr(LowerAscii(t), L".mp3") > 0) {
        out.isFileName = true;
        return out;
    }
    const std::size_t r = InStr(t, L" - ");
    if (r == 0) {
        out.artist = Trim(t);
    } else {
        out.artist = Trim(Left(t, r - 1));
        out.title = Trim(Right(t, t.size() - r - 1));
    }
    return out;
}

inline std::wstring Decimal(std::int32_t value)
{
    std::int64_t v = value;
    const bool negative = v < 0;
    if (negative) v = -v;
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + v % 10));
        v /= 10;
    } while (v != 0);
    return negative ? L"-" + digits : digits;
}

// Whole seconds with ties to even, in integers only.
inline std::int32_t Seconds(std::int32_t ms)
{
    std::int64_t q = ms / 1000;
    std::int64_t r = ms % 1000;
    if (r < 0) {  // floor division
        r += 1000;
        q -= 1;
    }
    if (r > 500 || (r == 500 && (q % 2 != 0))) q += 1;
    return static_cast<std::int32_t>(q);
}

}  // namespace fuzzref
