// FONT resource records of a KF8 book: the font file each one holds, and the
// family name stored inside that file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"

struct FontFile {
  std::vector<std::uint8_t> bytes;
  std::string_view extension; // "ttf" or "otf", from the file's signature
};

// No real font comes near this; a record that claims more is refused before
// anything is allocated.
inline constexpr std::uint32_t kMaxFontSize = 50u << 20;

// True when the record starts with the "FONT" tag.
bool IsFontRecord(const ByteReader &record);

// The font a FONT record holds: its data de-obfuscated (XOR with the record's
// key over the first bytes, whose count differs between the tools that write
// them, so each count found in the wild is tried) and inflated, exactly the
// decoded size the record states, and starting with a TrueType or OpenType
// signature. Nothing for a damaged, oversized or unrecognised record.
std::optional<FontFile> DecodeFontRecord(const ByteReader &record);

// The family name in the font's naming table (the first face of a
// collection), UTF-8; empty when the font names none.
std::string FontFamilyName(std::span<const std::uint8_t> font);
