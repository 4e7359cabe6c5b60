// Holds the bridge/helper line protocol to its promises on any byte stream.
//
// The first input byte picks how the rest is cut into reads; the rest is
// the stream as it might arrive on the socket, from either side. Every
// line that comes out of the splitter must match a plain reference split,
// however the stream was cut; every line that parses must come back from
// Encode as a line that parses to the same message; and the handshake's
// token compare must accept exactly the right token.
#include "line_protocol.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using mpris_bridge::kMaxLine;
using mpris_bridge::LineSplitter;
using mpris_bridge::Message;

[[noreturn]] void Fail(const char* what, std::string_view line)
{
    std::fprintf(stderr, "protocol invariant: %s (line of %zu bytes: \"%.*s\")\n", what, line.size(),
                 static_cast<int>(line.size() > 200 ? 200 : line.size()), line.data());
    std::abort();
}

// What a splitter must give for a whole stream: every newline-ended line,
// an oversized one as a single empty report; the unfinished tail nothing.
std::vector<LineSplitter::Line> ReferenceLines(std::string_view stream)
{
    std::vector<LineSplitter::Line> lines;
    for (size_t newline = stream.find('\n'); newline != std::string_view::npos; newline = stream.find('\n')) {
        const std::string_view text = stream.substr(0, newline);
        if (text.size() > kMaxLine) {
            lines.push_back({std::string(), true});
        } else {
            lines.push_back({std::string(text), false});
        }
        stream.remove_prefix(newline + 1);
    }
    return lines;
}

std::vector<LineSplitter::Line> Drain(LineSplitter& splitter)
{
    std::vector<LineSplitter::Line> lines;
    while (std::optional<LineSplitter::Line> line = splitter.Next()) lines.push_back(std::move(*line));
    return lines;
}

// Reads of pseudo-random lengths, up to a little past the line limit so a
// line can straddle reads on either side of it.
std::vector<LineSplitter::Line> SplitInReads(std::string_view stream, uint32_t seed)
{
    LineSplitter splitter;
    uint32_t state = seed * 2654435761u + 1;
    while (!stream.empty()) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const size_t length = 1 + state % (seed % 2 ? 8 : kMaxLine + 16);
        splitter.Feed(stream.substr(0, length));
        stream.remove_prefix(std::min(length, stream.size()));
    }
    return Drain(splitter);
}

std::vector<LineSplitter::Line> SplitByteByByte(std::string_view stream)
{
    LineSplitter splitter;
    std::vector<LineSplitter::Line> lines;
    for (size_t i = 0; i < stream.size(); ++i) {
        splitter.Feed(stream.substr(i, 1));
        // Taking lines out as they come must not disturb the ones still pending.
        if (i % 3 == 0) {
            for (LineSplitter::Line& line : Drain(splitter)) lines.push_back(std::move(line));
        }
    }
    for (LineSplitter::Line& line : Drain(splitter)) lines.push_back(std::move(line));
    return lines;
}

void ExpectSameLines(const std::vector<LineSplitter::Line>& got, const std::vector<LineSplitter::Line>& want,
                     const char* how)
{
    if (got.size() != want.size()) Fail(how, "(line count differs)");
    for (size_t i = 0; i < got.size(); ++i) {
        if (got[i].oversized != want[i].oversized) Fail(how, want[i].text);
        if (got[i].text != want[i].text) Fail(how, want[i].text);
    }
}

void CheckSplitter(std::string_view stream, uint8_t seed)
{
    const std::vector<LineSplitter::Line> want = ReferenceLines(stream);
    LineSplitter whole;
    whole.Feed(stream);
    ExpectSameLines(Drain(whole), want, "one read splits differently");
    ExpectSameLines(SplitInReads(stream, seed), want, "chunked reads split differently");
    ExpectSameLines(SplitByteByByte(stream), want, "byte reads split differently");

    // A reset forgets a half-read line: what follows starts a fresh one.
    LineSplitter reset;
    reset.Feed(stream);
    reset.Reset();
    if (reset.Next()) Fail("a line survived Reset", "");
    reset.Feed("PLAYER 1\n");
    const std::optional<LineSplitter::Line> after = reset.Next();
    if (!after || after->oversized || after->text != "PLAYER 1") Fail("Reset left a partial line", stream);
}

std::string_view WithoutNewline(const std::string& encoded)
{
    if (encoded.empty() || encoded.back() != '\n') Fail("Encode did not end its line", encoded);
    const std::string_view line(encoded.data(), encoded.size() - 1);
    if (line.find('\n') != std::string_view::npos) Fail("Encode made more than one line", encoded);
    if (line.size() > kMaxLine) Fail("Encode made an oversized line", encoded);
    return line;
}

void CheckRoundTrip(const Message& message, std::string_view origin)
{
    const std::string encoded = mpris_bridge::Encode(message);
    const mpris_bridge::Parsed again = mpris_bridge::ParseLine(WithoutNewline(encoded));
    if (!again.message) Fail("an encoded line does not parse", encoded);
    if (*again.message != message) Fail("an encoded line parses to another message", origin);
}

void CheckParsedLine(std::string_view line)
{
    const mpris_bridge::Parsed parsed = mpris_bridge::ParseLine(line);
    if (!parsed.message) {
        if (parsed.error.empty()) Fail("a refused line without a reason", line);
        return;
    }
    if (!parsed.error.empty()) Fail("an accepted line with an error", line);
    std::string_view body = line;
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    if (!mpris_bridge::IsCleanUtf8(body)) Fail("accepted a line with controls or broken UTF-8", line);
    if (const auto* track = std::get_if<mpris_bridge::TrackTitle>(&*parsed.message)) {
        if (!mpris_bridge::IsCleanUtf8(track->title)) Fail("a title with controls", line);
    }
    CheckRoundTrip(*parsed.message, line);
}

// The helper's side of the handshake: only the run's token, byte for byte.
void CheckToken(std::string_view candidate)
{
    constexpr std::string_view kToken = "0123456789abcdef0123456789abcdef";
    if (mpris_bridge::TokensEqual(candidate, kToken) != (candidate == kToken)) Fail("token compare", candidate);
    if (!mpris_bridge::TokensEqual(candidate, candidate)) Fail("a token differs from itself", candidate);
    if (candidate.empty()) return;
    std::string flipped(candidate);
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x01);
    if (mpris_bridge::TokensEqual(candidate, flipped)) Fail("a token equals one with a byte changed", candidate);
    if (mpris_bridge::TokensEqual(candidate, candidate.substr(0, candidate.size() - 1))) {
        Fail("a token equals its own prefix", candidate);
    }
}

// The other direction: messages built from the bytes, as the sending side
// makes them, must reach the far side unchanged.
void CheckEncodedFromBytes(std::string_view bytes)
{
    const mpris_bridge::Parsed parsed =
        mpris_bridge::ParseLine(WithoutNewline(mpris_bridge::Encode(mpris_bridge::TrackTitle{std::string(bytes)})));
    const auto* track = parsed.message ? std::get_if<mpris_bridge::TrackTitle>(&*parsed.message) : nullptr;
    if (!track) Fail("an encoded title does not parse as a title", bytes);
    if (mpris_bridge::IsCleanUtf8(bytes)) {
        // A clean title arrives whole, or cut at a character boundary when too long.
        if (bytes.size() <= kMaxLine - 6 && track->title != bytes) Fail("a clean title changed on the way", bytes);
        if (!bytes.starts_with(track->title)) Fail("a long clean title is not cut to a prefix", bytes);
    }

    std::string token;
    for (const char c : bytes.substr(0, mpris_bridge::kMaxTokenLength)) token += "0123456789abcdef"[c & 0x0F];
    if (!token.empty()) CheckRoundTrip(mpris_bridge::Hello{token}, token);

    // Figures as the helper sends them: never negative.
    int64_t figures[6] = {};
    for (size_t i = 0; i < bytes.size(); ++i) figures[i % 6] = (figures[i % 6] << 8) | static_cast<uint8_t>(bytes[i]);
    mpris_bridge::Status status;
    constexpr mpris_bridge::PlayState kStates[] = {mpris_bridge::PlayState::Stopped, mpris_bridge::PlayState::Playing,
                                                   mpris_bridge::PlayState::Paused};
    status.state = kStates[static_cast<uint64_t>(figures[0]) % 3];
    status.position_ms = figures[1] & INT64_MAX;
    status.rate_per_mille = static_cast<int32_t>(figures[2] & INT32_MAX);
    status.length_s = static_cast<int32_t>(figures[3] & INT32_MAX);
    status.freq_hz = static_cast<int32_t>(figures[4] & INT32_MAX);
    status.kbps = static_cast<int32_t>(figures[5] & INT32_MAX);
    CheckRoundTrip(mpris_bridge::StatusLine{status}, "(status from the input)");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    CheckSplitter(stream, data[0]);
    LineSplitter splitter;
    splitter.Feed(stream);
    while (std::optional<LineSplitter::Line> line = splitter.Next()) {
        if (line->oversized) continue;
        CheckParsedLine(line->text);
        std::string_view rest = line->text;
        if (rest.starts_with("HELLO ")) CheckToken(rest.substr(6));
    }
    // A line longer than the limit is refused even when handed over whole.
    if (stream.size() > kMaxLine && mpris_bridge::ParseLine(stream).message) Fail("parsed an oversized line", stream);
    CheckToken(stream.substr(0, 40));
    CheckEncodedFromBytes(stream);
    return 0;
}
