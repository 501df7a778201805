// HUFF/CDIC decompression of text records.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "decoding/bit_reader.h"

// Canonical Huffman codes, each naming an entry of the book's CDIC dictionary.
// An entry is literal bytes or, in turn, coded bytes that expand the same way,
// up to 32 levels below a record's own bits.
//
// A coded entry is expanded once and its text kept, so most codes cost one
// table look-up and one copy. The kept text is used only where the entry
// expanded afresh would give exactly those bytes: when all of it fits into
// the space left and the nesting limit is not reached on the way. Otherwise
// the entry is expanded afresh, which cuts it short where that space ends.
//
// Data that breaks the format (a code length of 0 or over 32, a code search
// past length 32, a dictionary index past the CDIC records or an entry outside
// its record, cdicBits of 32 or more, tables missing from the HUFF record, no
// dictionary) sets the error flag and ends the record; the flag is never
// cleared, so every later record yields nothing.
class HuffDecompressor {
public:
  static constexpr std::uint32_t kMaxDepth = 32;

  // `huffRecord` holds the code tables; `cdicRecords` the dictionary records in
  // book order (empty when they could not be read, which leaves the decoder
  // failed). `extraDataFlags` describe the trailing entries of text records.
  HuffDecompressor(std::span<const std::uint8_t> huffRecord,
                   std::vector<std::vector<std::uint8_t>> cdicRecords,
                   std::uint32_t extraDataFlags);
  ~HuffDecompressor();
  HuffDecompressor(const HuffDecompressor &) = delete;
  HuffDecompressor &operator=(const HuffDecompressor &) = delete;

  // Decodes one whole text record (its trailing entries are measured and
  // removed here) into out[0, outSize); returns the number of bytes written.
  // A literal entry is written when it fits, up to the last byte of the space.
  std::uint32_t Decompress(std::span<const std::uint8_t> record, char *out, std::uint32_t outSize);
  bool Error() const { return error != 0; }

  std::uint32_t SizeOfTrailingEntries(std::span<const std::uint8_t> record) const;

  std::uint32_t CdicBits() const { return cdicBits; }
  std::size_t DictionaryRecordCount() const { return dictRecords.size(); }

private:
  struct Entry;
  struct RecordEntries {
    std::uint32_t first = 0; // index of the record's first entry in `entries`
    std::uint32_t count = 0; // entries whose offset lies inside the record
  };
  enum class Next { Code, End, Broken };

  bool LoadTables(std::span<const std::uint8_t> huffRecord);
  bool IndexDictionary();
  Next NextCode(BitReader &reader, std::uint32_t &index) const;
  Entry *Lookup(std::uint32_t index);
  void Expand(Entry &entry, std::uint32_t nesting);
  const std::uint8_t *KeepText(const Entry &entry, std::uint32_t length);
  bool DecodeLevel(std::span<const std::uint8_t> bits, std::uint32_t depth);
  bool Fail();

  std::uint32_t cdicBits = 0;
  std::uint32_t extraDataFlags;
  std::uint32_t codeTable[256] = {};
  std::uint32_t codeRanges[64] = {};
  std::vector<std::vector<std::uint8_t>> dictRecords;
  std::vector<RecordEntries> recordEntries;
  std::vector<Entry> entries;
  // Expanded entry texts, in blocks that never move.
  std::vector<std::unique_ptr<std::uint8_t[]>> keptBlocks;
  std::size_t keptBlockUsed = 0;
  std::size_t keptBlockSize = 0;
  std::size_t keptTotal = 0;
  std::size_t keptLimit = 0; // bytes the store may hold, set by the dictionary's size
  char *outStart = nullptr;
  char *outEnd = nullptr;
  char *outPos = nullptr;
  std::uint32_t stepsLeft = 0;
  std::int32_t error = 0;
};
