// Where things sit in a saved type library file (the "MSFT" format that
// oleaut32 writes and reads): the header, the offsets of the type entries and
// the fixed part of each type entry. Only the fields that the build step mends
// and the tests inspect are named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>

namespace plavox::msft {

inline constexpr uint32_t kMagic = 0x5446534D;  // "MSFT"

// File header, all 32-bit little-endian fields.
inline constexpr size_t kHeaderVarFlags = 0x14;
inline constexpr size_t kHeaderTypeCount = 0x20;
inline constexpr size_t kHeaderSize = 0x54;
inline constexpr uint32_t kVarFlagHelpDll = 0x100;  // one more field follows the header

// Segment directory entries: offset, length and two reserved fields; the type
// entry table is the first segment.
inline constexpr size_t kSegmentEntrySize = 16;

// The fixed part of one type entry.
inline constexpr size_t kTypeEntrySize = 0x64;
inline constexpr size_t kTypeKind = 0x00;       // low nibble TYPEKIND, bits 11-15 alignment
inline constexpr size_t kTypeElements = 0x18;  // variables << 16 | functions
inline constexpr size_t kTypeFlags = 0x30;
inline constexpr size_t kTypeImplCount = 0x4C;  // 16 bits
inline constexpr size_t kTypeVftSize = 0x4E;    // 16 bits
inline constexpr size_t kTypeSize = 0x50;
inline constexpr size_t kTypeBase = 0x54;       // first implemented type (interfaces)
inline constexpr size_t kTypeBaseInfo = 0x58;   // inherited functions << 16 | inherited interfaces

inline uint32_t ReadU32(std::span<const uint8_t> bytes, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

inline uint16_t ReadU16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline void WriteU32(std::span<uint8_t> bytes, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteU16(std::span<uint8_t> bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// File offset of the fixed part of type entry `index`, or nothing when the
// image is not a type library or too short to hold that entry.
inline std::optional<size_t> TypeEntryOffset(std::span<const uint8_t> image, uint32_t index)
{
    if (image.size() < kHeaderSize || ReadU32(image, 0) != kMagic) return std::nullopt;
    const uint32_t count = ReadU32(image, kHeaderTypeCount);
    if (index >= count) return std::nullopt;
    size_t at = kHeaderSize;
    if (ReadU32(image, kHeaderVarFlags) & kVarFlagHelpDll) at += 4;
    const size_t offsets = at;
    const size_t segments = offsets + size_t{count} * 4;
    if (image.size() < segments + kSegmentEntrySize) return std::nullopt;
    const size_t table = ReadU32(image, segments);
    const size_t entry = table + ReadU32(image, offsets + size_t{index} * 4);
    if (entry + kTypeEntrySize > image.size()) return std::nullopt;
    return entry;
}

}  // namespace plavox::msft
