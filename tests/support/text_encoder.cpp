#include "text_encoder.h"

#include <optional>
#include <random>
#include <vector>

#include "huff_encoder.h"
#include "palmdoc_encoder.h"

namespace testbook {

Bytes BackwardVarint(std::uint32_t value) {
  Bytes groups;
  do {
    groups.insert(groups.begin(), static_cast<std::uint8_t>(value & 0x7F));
    value >>= 7;
  } while (value != 0);
  groups.front() |= 0x80;
  return groups;
}

void AppendTrailingEntries(Bytes &record, std::uint16_t extraDataFlags, const Bytes &overlap,
                           std::size_t seed) {
  if (extraDataFlags & 1) {
    record.insert(record.end(), overlap.begin(), overlap.end());
    // The upper bits are not part of the count.
    record.push_back(static_cast<std::uint8_t>(0xE4 | overlap.size()));
  }
  for (int bit = 15; bit >= 1; --bit) {
    if (!(extraDataFlags & (1u << bit)))
      continue;
    const std::size_t filler = (seed * 37 + static_cast<std::size_t>(bit) * 61) % 190;
    std::uint32_t size = static_cast<std::uint32_t>(filler) + 1;
    while (BackwardVarint(size).size() + filler != size)
      size = static_cast<std::uint32_t>(filler + BackwardVarint(size).size());
    for (std::size_t i = 0; i < filler; ++i)
      record.push_back(static_cast<std::uint8_t>(0x80 + (i * 7 + bit) % 128));
    const Bytes varint = BackwardVarint(size);
    record.insert(record.end(), varint.begin(), varint.end());
  }
}

Bytes SeamOverlap(const std::string &next) {
  Bytes overlap;
  for (std::size_t i = 0; i < next.size() && i < 3 && (next[i] & 0xC0) == 0x80; ++i)
    overlap.push_back(static_cast<std::uint8_t>(next[i]));
  return overlap;
}

BookSpec TextBook(const std::string &text, std::uint16_t compression, std::uint16_t extraDataFlags,
                  std::uint16_t recordSize) {
  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < text.size(); at += recordSize)
    chunks.push_back(text.substr(at, recordSize));

  BookSpec spec;
  spec.compression = compression;
  spec.textRecordSize = recordSize;
  spec.extraDataFlags = extraDataFlags;
  spec.textLength = static_cast<std::uint32_t>(text.size());

  std::optional<HuffEncoder> huff;
  if (compression == 17480) {
    // Every other phrase is stored coded; pairs of words then nest twice.
    std::vector<HuffPhrase> phrases;
    for (const std::string &phrase : FrequentPhrases(chunks, 200))
      phrases.push_back({phrase, phrases.size() % 2 == 1});
    huff.emplace(std::move(phrases), chunks);
    spec.huffRecords = huff->Records();
  }

  for (std::size_t i = 0; i < chunks.size(); ++i) {
    Bytes record = compression == 2       ? PalmDocEncode(chunks[i])
                   : compression == 17480 ? huff->Encode(chunks[i])
                                          : ToBytes(chunks[i]);
    const Bytes overlap = i + 1 < chunks.size() ? SeamOverlap(chunks[i + 1]) : Bytes();
    AppendTrailingEntries(record, extraDataFlags, overlap, i);
    spec.textRecords.push_back(std::move(record));
  }
  spec.tailRecords = {Bytes{0xE9, 0x8E, '\r', '\n'}}; // end-of-file record
  return spec;
}

std::string SampleText(std::size_t size, std::uint32_t seed) {
  static const char *const kWords[] = {
      "the",  "of",     "and",    "to",     "a",    "in",    "that",  "it",     "was",   "he",
      "for",  "on",     "are",    "with",   "as",   "his",   "they",  "be",     "at",    "one",
      "have", "this",   "from",   "or",     "had",  "by",    "word",  "but",    "what",  "some",
      "we",   "can",    "out",    "other",  "were", "all",   "there", "when",   "up",    "use",
      "your", "how",    "said",   "an",     "each", "which", "she",   "do",     "their", "time",
      "if",   "will",   "way",    "about",  "many", "then",  "them",  "write",  "would", "like",
      "so",   "these",  "her",    "long",   "make", "thing", "see",   "him",    "two",   "has",
      "look", "more",   "day",    "could",  "go",   "come",  "did",   "number", "sound", "no",
      "most", "people", "my",     "over",   "know", "water", "than",  "call",   "first", "who",
      "may",  "down",   "side",   "been",   "now",  "find",  "café",  "naïve",  "über",  "señor",
      "déjà", "moon",   "garden", "letter", "road", "Watson"};
  std::mt19937 random(seed);
  const auto pick = [&](std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
  };
  std::string text = "<html><head><title>Sample</title></head><body>\n";
  while (text.size() < size) {
    text += "<p>";
    const std::size_t sentences = 1 + pick(4);
    for (std::size_t s = 0; s < sentences; ++s) {
      const std::size_t words = 4 + pick(12);
      for (std::size_t w = 0; w < words; ++w) {
        std::string word = kWords[pick(std::size(kWords))];
        if (w == 0 && word[0] >= 'a' && word[0] <= 'z')
          word[0] = static_cast<char>(word[0] - 'a' + 'A');
        text += word;
        text += w + 1 < words ? " " : ". ";
      }
    }
    text += "</p>\n";
  }
  text.resize(size);
  while (!text.empty() && (text.back() & 0xC0) == 0x80)
    text.pop_back(); // no character cut in half: the text stays UTF-8
  if (!text.empty() && (text.back() & 0x80))
    text.pop_back();
  return text + "</body></html>";
}

} // namespace testbook
