// Index records (INDX with TAGX, IDXT and CNCX): one bounds-checked reader
// for every index a book carries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "byte_reader.h"

struct IndexEntry {
  std::string label; // raw label bytes
  // Tag number and its values, in the order the entry holds them.
  std::vector<std::pair<std::uint8_t, std::vector<std::uint32_t>>> tags;

  // The values of `tag`, or null when the entry lacks it.
  const std::vector<std::uint32_t> *Tag(std::uint8_t tag) const;
};

struct IndexTable {
  std::vector<IndexEntry> entries;
  std::uint32_t encoding = 65001;  // of labels and CNCX strings
  std::vector<ByteReader> cncx;    // the CNCX records, in order

  // The CNCX string at `offset` (record offset >> 16, byte offset & 0xFFFF),
  // decoded to UTF-8; nothing when it does not lie inside its record.
  std::optional<std::string> CncxString(std::uint32_t offset) const;
};

// The index whose primary record is `records[first]`; its data and CNCX
// records follow it. Nothing when the index does not check out.
std::optional<IndexTable> ReadIndex(std::span<const ByteReader> records, std::uint32_t first);
