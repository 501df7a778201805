// Index records (INDX with TAGX, IDXT and CNCX): one bounds-checked reader
// for every index a book carries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/byte_reader.h"

struct IndexEntry {
  std::string label; // raw label bytes
  // Tag number and its values, in the order the entry holds them.
  std::vector<std::pair<std::uint8_t, std::vector<std::uint32_t>>> tags;

  // The values of `tag`, or null when the entry lacks it.
  const std::vector<std::uint32_t> *Tag(std::uint8_t tag) const;
  // The first value of `tag`, or nothing when the entry lacks it.
  std::optional<std::uint32_t> First(std::uint8_t tag) const;
};

// The entries of one index. Its CNCX views point into the records it was read
// from, so the table lives no longer than they do.
struct IndexTable {
  std::vector<IndexEntry> entries;
  std::uint32_t encoding = 65001;  // of labels and CNCX strings
  std::vector<ByteReader> cncx;    // the CNCX records, in order

  // The CNCX string at `offset` (record offset >> 16, byte offset & 0xFFFF),
  // decoded to UTF-8; nothing when it does not lie inside its record.
  std::optional<std::string> CncxString(std::uint32_t offset) const;
  // `bytes` (a label, say) decoded to UTF-8 from the index encoding.
  std::string Decode(std::string_view bytes) const;
};

// The index whose primary record is `records[first]`; its data and CNCX
// records follow it. Nothing when the index does not check out.
std::optional<IndexTable> ReadIndex(std::span<const ByteReader> records, std::uint32_t first);

// A forward variable-width integer at `*at`, ending before `end`: seven bits
// a byte, most significant first, the last byte flagged with 0x80. Moves
// `*at` past it; nothing when it runs past `end`, past 5 bytes or past 32 bits.
std::optional<std::uint32_t> ReadForwardVwi(const ByteReader &bytes, std::size_t &at,
                                            std::size_t end);
