// Test-only FONT resource records and the small fonts inside them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mobi_writer.h"

namespace testbook {

// A TrueType-shaped file whose naming table holds `family`, padded with
// bytes that do not compress, so the stored stream is longer than every
// obfuscated stretch.
Bytes MakeFont(const std::string &family,
               const std::string &signature = std::string("\0\1\0\0", 4));

struct FontRecordSpec {
  std::size_t keyLength = 20;
  std::size_t obfuscated = 1040; // bytes XORed; 0 for none
  bool compressed = true;
  std::optional<std::uint32_t> decodedSize{}; // default: the font's size
};

// A FONT record holding `font` as `spec` says (compressed with zlib's own compress).
Bytes MakeFontRecord(const Bytes &font, const FontRecordSpec &spec);

} // namespace testbook
