// Test-only text records: a text split, compressed the book's way, and
// followed by the trailing entries that the extra data flags announce.
#pragma once

#include <cstdint>
#include <string>

#include "mobi_writer.h"

namespace testbook {

// `value` as a backward variable-width integer: 7 bits per byte, lowest group
// last, the first byte marked with 0x80.
Bytes BackwardVarint(std::uint32_t value);

// Appends to `record` the trailing entries `extraDataFlags` announce: for bit
// 0 the multibyte overlap (`overlap`, at most 3 bytes, then a byte whose low
// two bits count them); for each of bits 15 down to 1 an entry of filler
// bytes ending in its own size, sized from `seed` and the bit so that some
// need a two-byte size.
void AppendTrailingEntries(Bytes &record, std::uint16_t extraDataFlags, const Bytes &overlap,
                           std::size_t seed);

// The UTF-8 continuation bytes (at most 3) at the start of `next`: the rest of
// a character that the record seam cuts.
Bytes SeamOverlap(const std::string &next);

// A book whose text records hold `text` in records of `recordSize` bytes,
// compressed with `compression` (1, 2 or 17480, with its HUFF and CDIC
// records), each followed by the trailing entries of `extraDataFlags`.
BookSpec TextBook(const std::string &text, std::uint16_t compression, std::uint16_t extraDataFlags,
                  std::uint16_t recordSize = 4096);

// Reproducible book-like UTF-8 markup of about `size` bytes: paragraphs of
// words from a small vocabulary, some with accented letters.
std::string SampleText(std::size_t size, std::uint32_t seed = 1);

} // namespace testbook
