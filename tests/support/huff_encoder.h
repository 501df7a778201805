// Test-only HUFF/CDIC encoder: a canonical Huffman code over a dictionary of
// byte strings, written as the HUFF record and the CDIC records of a book.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mobi_writer.h"

namespace testbook {

struct HuffPhrase {
  std::string text;
  // Stored as codes of shorter dictionary entries rather than as bytes.
  bool coded = false;
};

// The dictionary holds every byte value plus the phrases. A coded phrase is
// the greedy parse of its text over the entries shorter than it, so phrases
// that grow one from another nest one level per phrase.
class HuffEncoder {
public:
  // `samples` set the code lengths (each byte value counts at least once);
  // each CDIC record holds 2^cdicBits entries. Codes are at most 24 bits.
  HuffEncoder(std::vector<HuffPhrase> phrases, const std::vector<std::string> &samples,
              std::uint32_t cdicBits = 8);

  // The bits of `text`, padded with zero bits to a whole byte.
  Bytes Encode(std::string_view text) const;
  // The HUFF record followed by the CDIC records.
  std::vector<Bytes> Records() const;
  std::size_t EntryCount() const { return entries_.size(); }
  std::uint32_t LongestCode() const;

private:
  struct Entry {
    std::string text;
    bool coded = false;
    std::uint64_t frequency = 1;
    std::uint32_t codeLength = 0;
    std::uint32_t code = 0;
    std::uint32_t index = 0; // position in the dictionary
  };
  // Greedy longest-match parse over the entries shorter than `limit` bytes.
  std::vector<std::size_t> Parse(std::string_view text, std::size_t limit) const;
  void AssignCodeLengths();
  void AssignCodes();
  void Append(std::vector<bool> &bits, std::size_t entry) const;
  Bytes HuffRecord() const;
  Bytes CdicRecord(std::size_t first, std::size_t count) const;

  struct TrieNode {
    std::vector<std::pair<std::uint8_t, std::uint32_t>> children;
    std::size_t entry = SIZE_MAX;
  };
  std::vector<TrieNode> trie_;
  std::vector<Entry> entries_;
  std::vector<std::size_t> byIndex_; // entry at each dictionary index
  std::uint32_t cdicBits_;
  std::uint32_t lowest_[33] = {};  // per code length
  std::uint32_t highest_[33] = {}; // stored: highest code plus the entries of shorter codes
  std::uint32_t maxLength_ = 0;
};

// The two code tables of a HUFF record.
using HuffCodeTable = std::array<std::uint32_t, 256>;
using HuffCodeRanges = std::array<std::uint32_t, 64>;

// A HUFF record holding `table` and `ranges` as books store them: big-endian
// copies, then the little-endian ones that the header's offsets name.
Bytes BuildHuffRecord(const HuffCodeTable &table, const HuffCodeRanges &ranges = {});

struct CdicEntry {
  bool literal = true;
  Bytes bytes; // the text, or the codes of a coded entry
};
// A CDIC record of `entries`; its header gives `cdicBits` and the number of
// entries in the whole dictionary (by default, these).
Bytes BuildCdicRecord(const std::vector<CdicEntry> &entries, std::uint32_t cdicBits = 8,
                      std::optional<std::uint32_t> dictionarySize = std::nullopt);

// The most frequent words of `texts`, each with the space after it, and
// frequent pairs of them; ordered from short to long.
std::vector<std::string> FrequentPhrases(const std::vector<std::string> &texts, std::size_t count);

} // namespace testbook
