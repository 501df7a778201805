#include "huff_encoder.h"

#include <algorithm>
#include <map>
#include <queue>
#include <stdexcept>
#include <unordered_map>

namespace testbook {
namespace {

constexpr std::uint32_t kLongestCode = 24;
constexpr std::size_t kHuffHeaderSize = 24;
constexpr std::size_t kCodeTableSize = 256 * 4;
constexpr std::size_t kCodeRangesSize = 64 * 4;

void AppendU32LE(Bytes &bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8)
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

Bytes Pack(const std::vector<bool> &bits) {
  Bytes bytes((bits.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i])
      bytes[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
  return bytes;
}

// Code lengths of a Huffman code for `frequencies`.
std::vector<std::uint32_t> HuffmanLengths(const std::vector<std::uint64_t> &frequencies) {
  using Node = std::pair<std::uint64_t, std::size_t>;
  std::priority_queue<Node, std::vector<Node>, std::greater<>> queue;
  std::vector<std::size_t> parent(frequencies.size(), SIZE_MAX);
  for (std::size_t i = 0; i < frequencies.size(); ++i)
    queue.push({frequencies[i], i});
  while (queue.size() > 1) {
    const Node a = queue.top();
    queue.pop();
    const Node b = queue.top();
    queue.pop();
    parent.push_back(SIZE_MAX);
    parent[a.second] = parent[b.second] = parent.size() - 1;
    queue.push({a.first + b.first, parent.size() - 1});
  }
  std::vector<std::uint32_t> lengths(frequencies.size());
  for (std::size_t i = 0; i < frequencies.size(); ++i)
    for (std::size_t node = i; parent[node] != SIZE_MAX; node = parent[node])
      ++lengths[i];
  return lengths;
}

} // namespace

HuffEncoder::HuffEncoder(std::vector<HuffPhrase> phrases, const std::vector<std::string> &samples,
                         std::uint32_t cdicBits)
    : trie_(1), cdicBits_(cdicBits) {
  for (unsigned byte = 0; byte < 256; ++byte)
    entries_.push_back({std::string(1, static_cast<char>(byte))});
  for (HuffPhrase &phrase : phrases)
    entries_.push_back({std::move(phrase.text), phrase.coded});

  for (std::size_t e = 0; e < entries_.size(); ++e) {
    std::uint32_t node = 0;
    for (char c : entries_[e].text) {
      auto &children = trie_[node].children;
      auto child = std::find_if(children.begin(), children.end(), [&](const auto &pair) {
        return pair.first == static_cast<std::uint8_t>(c);
      });
      if (child != children.end()) {
        node = child->second;
        continue;
      }
      children.push_back({static_cast<std::uint8_t>(c), static_cast<std::uint32_t>(trie_.size())});
      node = static_cast<std::uint32_t>(trie_.size());
      trie_.emplace_back();
    }
    if (trie_[node].entry != SIZE_MAX)
      throw std::invalid_argument("phrase given twice: " + entries_[e].text);
    trie_[node].entry = e;
  }

  for (const std::string &sample : samples)
    for (std::size_t e : Parse(sample, SIZE_MAX))
      ++entries_[e].frequency;
  for (const Entry &entry : entries_)
    if (entry.coded)
      for (std::size_t e : Parse(entry.text, entry.text.size()))
        ++entries_[e].frequency;
  AssignCodeLengths();
  AssignCodes();
}

std::vector<std::size_t> HuffEncoder::Parse(std::string_view text, std::size_t limit) const {
  std::vector<std::size_t> parsed;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t best = SIZE_MAX;
    std::size_t bestLength = 0;
    std::uint32_t node = 0;
    for (std::size_t length = 1; at + length <= text.size() && length < limit; ++length) {
      const auto &children = trie_[node].children;
      const auto child = std::find_if(children.begin(), children.end(), [&](const auto &pair) {
        return pair.first == static_cast<std::uint8_t>(text[at + length - 1]);
      });
      if (child == children.end())
        break;
      node = child->second;
      if (trie_[node].entry != SIZE_MAX) {
        best = trie_[node].entry;
        bestLength = length;
      }
    }
    parsed.push_back(best); // every byte value is an entry, so there is always one
    at += bestLength;
  }
  return parsed;
}

void HuffEncoder::AssignCodeLengths() {
  std::vector<std::uint64_t> frequencies;
  for (const Entry &entry : entries_)
    frequencies.push_back(entry.frequency);
  for (;;) {
    const std::vector<std::uint32_t> lengths = HuffmanLengths(frequencies);
    maxLength_ = *std::max_element(lengths.begin(), lengths.end());
    if (maxLength_ <= kLongestCode) {
      for (std::size_t e = 0; e < entries_.size(); ++e)
        entries_[e].codeLength = lengths[e];
      return;
    }
    for (std::uint64_t &frequency : frequencies)
      frequency = frequency / 2 + 1; // flatten until the code is short enough
  }
}

// Canonical codes where shorter codes take the highest values, so that every
// prefix of a longer code lies below the lowest code of that length; the
// dictionary holds the entries in code-length order, and within one length
// the highest code comes first.
void HuffEncoder::AssignCodes() {
  byIndex_.resize(entries_.size());
  for (std::size_t e = 0; e < entries_.size(); ++e)
    byIndex_[e] = e;
  std::stable_sort(byIndex_.begin(), byIndex_.end(), [&](std::size_t a, std::size_t b) {
    return entries_[a].codeLength < entries_[b].codeLength;
  });
  std::uint32_t count[34] = {};
  for (const Entry &entry : entries_)
    ++count[entry.codeLength];
  std::uint64_t next = 0;
  std::uint32_t base = 0;
  for (std::uint32_t length = 1; length <= 32; ++length) {
    next = (next + count[length - 1]) << 1;
    if (length > maxLength_)
      continue;
    const std::uint64_t highestCode = (std::uint64_t{1} << length) - 1 - next;
    lowest_[length] = static_cast<std::uint32_t>(highestCode + 1 - count[length]);
    highest_[length] = static_cast<std::uint32_t>(highestCode + base);
    for (std::uint32_t j = 0; j < count[length]; ++j) {
      Entry &entry = entries_[byIndex_[base + j]];
      entry.index = base + j;
      entry.code = static_cast<std::uint32_t>(highestCode - j);
    }
    base += count[length];
  }
}

void HuffEncoder::Append(std::vector<bool> &bits, std::size_t e) const {
  const Entry &entry = entries_[e];
  for (std::uint32_t bit = entry.codeLength; bit-- > 0;)
    bits.push_back((entry.code >> bit) & 1);
}

Bytes HuffEncoder::Encode(std::string_view text) const {
  std::vector<bool> bits;
  for (std::size_t e : Parse(text, SIZE_MAX))
    Append(bits, e);
  return Pack(bits);
}

std::uint32_t HuffEncoder::LongestCode() const { return maxLength_; }

Bytes HuffEncoder::HuffRecord() const {
  HuffCodeTable table = {};
  std::uint32_t shortestBelow[256];
  std::uint32_t longestBelow[256] = {};
  std::fill(std::begin(shortestBelow), std::end(shortestBelow), 33);
  for (const Entry &entry : entries_) {
    const std::uint32_t length = entry.codeLength;
    if (length <= 8) {
      const std::uint32_t first = entry.code << (8 - length);
      for (std::uint32_t b = first; b < first + (1u << (8 - length)); ++b)
        table[b] = length | 0x80 | highest_[length] << 8;
    } else {
      const std::uint32_t b = entry.code >> (length - 8);
      shortestBelow[b] = std::min(shortestBelow[b], length);
      longestBelow[b] = std::max(longestBelow[b], length);
    }
  }
  for (std::uint32_t b = 0; b < 256; ++b) {
    if (longestBelow[b] == 0)
      continue;
    table[b] = shortestBelow[b] == longestBelow[b]
                   ? shortestBelow[b] | 0x80 | highest_[shortestBelow[b]] << 8
                   : shortestBelow[b]; // search onward from the shortest length
  }
  HuffCodeRanges ranges;
  for (std::uint32_t length = 1; length <= 32; ++length) {
    ranges[2 * (length - 1)] = lowest_[length];
    ranges[2 * (length - 1) + 1] = highest_[length];
  }
  return BuildHuffRecord(table, ranges);
}

Bytes HuffEncoder::CdicRecord(std::size_t first, std::size_t count) const {
  std::vector<CdicEntry> stored;
  for (std::size_t i = 0; i < count; ++i) {
    const Entry &entry = entries_[byIndex_[first + i]];
    if (!entry.coded) {
      stored.push_back({true, ToBytes(entry.text)});
      continue;
    }
    std::vector<bool> bits;
    for (std::size_t e : Parse(entry.text, entry.text.size()))
      Append(bits, e);
    stored.push_back({false, Pack(bits)});
  }
  return BuildCdicRecord(stored, cdicBits_, static_cast<std::uint32_t>(entries_.size()));
}

std::vector<Bytes> HuffEncoder::Records() const {
  std::vector<Bytes> records{HuffRecord()};
  const std::size_t perRecord = std::size_t{1} << cdicBits_;
  for (std::size_t first = 0; first < entries_.size(); first += perRecord)
    records.push_back(CdicRecord(first, std::min(perRecord, entries_.size() - first)));
  return records;
}

Bytes BuildHuffRecord(const HuffCodeTable &table, const HuffCodeRanges &ranges) {
  // Big-endian copies first, then the little-endian ones the decoder reads.
  const auto tableBE = static_cast<std::uint32_t>(kHuffHeaderSize);
  const auto rangesBE = tableBE + static_cast<std::uint32_t>(kCodeTableSize);
  const auto tableLE = rangesBE + static_cast<std::uint32_t>(kCodeRangesSize);
  const auto rangesLE = tableLE + static_cast<std::uint32_t>(kCodeTableSize);
  Bytes huff = ToBytes("HUFF");
  for (std::uint32_t value :
       {static_cast<std::uint32_t>(kHuffHeaderSize), tableBE, rangesBE, tableLE, rangesLE})
    AppendU32BE(huff, value);
  for (std::uint32_t value : table)
    AppendU32BE(huff, value);
  for (std::uint32_t value : ranges)
    AppendU32BE(huff, value);
  for (std::uint32_t value : table)
    AppendU32LE(huff, value);
  for (std::uint32_t value : ranges)
    AppendU32LE(huff, value);
  return huff;
}

Bytes BuildCdicRecord(const std::vector<CdicEntry> &entries, std::uint32_t cdicBits,
                      std::optional<std::uint32_t> dictionarySize) {
  Bytes cdic = ToBytes("CDIC");
  AppendU32BE(cdic, 16);
  AppendU32BE(cdic, dictionarySize.value_or(static_cast<std::uint32_t>(entries.size())));
  AppendU32BE(cdic, cdicBits);
  Bytes body;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    PutU16BE(cdic, 16 + 2 * i, static_cast<std::uint16_t>(2 * entries.size() + body.size()));
    const CdicEntry &entry = entries[i];
    if (entry.bytes.size() > 0x7FFF || cdic.size() + body.size() > 0xFFFF)
      throw std::length_error("CDIC entry or record too long");
    AppendU16BE(body,
                static_cast<std::uint16_t>(entry.bytes.size() | (entry.literal ? 0x8000 : 0)));
    body.insert(body.end(), entry.bytes.begin(), entry.bytes.end());
  }
  cdic.insert(cdic.end(), body.begin(), body.end());
  return cdic;
}

std::vector<std::string> FrequentPhrases(const std::vector<std::string> &texts, std::size_t count) {
  std::unordered_map<std::string, std::uint64_t> words;
  std::unordered_map<std::string, std::uint64_t> pairs;
  for (const std::string &text : texts) {
    std::string previous;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t space = text.find(' ', at);
      if (space == std::string::npos)
        break;
      const std::string word = text.substr(at, space + 1 - at);
      if (word.size() >= 2 && word.size() <= 32) {
        ++words[word];
        if (!previous.empty())
          ++pairs[previous + word];
        previous = word;
      } else {
        previous.clear();
      }
      at = space + 1;
    }
  }
  // Best savings first, then alphabetical, so the choice is the same every run.
  const auto best = [](const std::unordered_map<std::string, std::uint64_t> &counts,
                       std::size_t n) {
    std::multimap<std::pair<std::uint64_t, std::string>, int> ranked;
    for (const auto &[text, frequency] : counts)
      if (frequency >= 2)
        ranked.insert({{UINT64_MAX - frequency * (text.size() - 1), text}, 0});
    std::vector<std::string> chosen;
    for (const auto &[key, unused] : ranked) {
      if (chosen.size() == n)
        break;
      chosen.push_back(key.second);
    }
    return chosen;
  };
  std::vector<std::string> phrases = best(words, count - count / 4);
  for (std::string &pair : best(pairs, count / 4))
    phrases.push_back(std::move(pair));
  std::sort(phrases.begin(), phrases.end(), [](const std::string &a, const std::string &b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  phrases.erase(std::unique(phrases.begin(), phrases.end()), phrases.end());
  return phrases;
}

} // namespace testbook
