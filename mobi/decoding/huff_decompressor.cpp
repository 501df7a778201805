#include "decoding/huff_decompressor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/byte_reader.h"

namespace {

constexpr std::uint32_t kTerminal = 0x80;
constexpr std::size_t kCodeTableSize = 256 * 4;
constexpr std::size_t kCodeRangesSize = 64 * 4;
constexpr std::size_t kCdicHeaderSize = 16;
// An expanded entry longer than any record's text space is never kept; the
// whole store of kept texts is bounded too. Entries past either bound are
// expanded afresh each time, which gives the same text, only slower.
constexpr std::uint32_t kMaxKeptText = 0x10000;
constexpr std::size_t kMaxKeptTotal = std::size_t{32} << 20;
constexpr std::size_t kKeptBlockSize = std::size_t{64} << 10;
// The store grows with the dictionary, so a small book cannot make the
// library hold far more than itself; real books keep about 3 bytes per
// dictionary byte.
constexpr std::size_t kKeptPerDictionaryByte = 16;
// Codes decoded below a record's own bits, per record. Real books need a few
// per byte of text; a dictionary built to expand without end stops here. The
// budget grows with the record's length, so that a book of many tiny records
// costs work in proportion to its size.
constexpr std::uint32_t kStepsPerRecord = 1u << 22;
constexpr std::uint32_t kStepsPerInputByte = 64;
constexpr std::uint32_t kStepsPerRecordBase = 1024;

std::uint32_t StepBudget(std::size_t inputBytes) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(
      kStepsPerRecord, kStepsPerRecordBase + std::uint64_t{kStepsPerInputByte} * inputBytes));
}

} // namespace

// One dictionary entry, resolved on first use.
struct HuffDecompressor::Entry {
  enum class State : std::uint8_t {
    Unknown,   // not looked at yet
    Broken,    // its offset or length leaves its record
    Literal,   // `text` is the entry's bytes
    Coded,     // `bits` hold codes; not expanded yet
    Expanding, // being expanded (meets itself only in a cycle)
    Kept,      // `text` is the whole expansion, `height` its nesting
    Afresh,    // expanded afresh at every use
  };
  const std::uint8_t *bits = nullptr;
  const std::uint8_t *text = nullptr;
  std::uint32_t bitsLength = 0;
  std::uint32_t textLength = 0;
  State state = State::Unknown;
  std::uint8_t height = 0; // levels of coded entries below this one's own codes

  bool HasText() const { return state == State::Literal || state == State::Kept; }
};

HuffDecompressor::HuffDecompressor(std::span<const std::uint8_t> huffRecord,
                                   std::vector<std::vector<std::uint8_t>> cdicRecords,
                                   std::uint32_t extraDataFlags)
    : extraDataFlags(extraDataFlags), dictRecords(std::move(cdicRecords)) {
  if (!LoadTables(huffRecord) || !IndexDictionary())
    error = 1;
}

HuffDecompressor::~HuffDecompressor() = default;

bool HuffDecompressor::LoadTables(std::span<const std::uint8_t> huffRecord) {
  const ByteReader huff(huffRecord);
  const auto tableOffset = huff.U32BE(16);
  const auto rangesOffset = huff.U32BE(20);
  if (!tableOffset || !rangesOffset)
    return false;
  const auto table = huff.Slice(*tableOffset, kCodeTableSize);
  const auto ranges = huff.Slice(*rangesOffset, kCodeRangesSize);
  if (!table || !ranges)
    return false;
  for (std::size_t i = 0; i < 256; ++i)
    codeTable[i] = *table->U32LE(4 * i);
  for (std::size_t i = 0; i < 64; ++i)
    codeRanges[i] = *ranges->U32LE(4 * i);
  return true;
}

bool HuffDecompressor::IndexDictionary() {
  if (dictRecords.empty())
    return false;
  const auto bits = ByteReader(dictRecords.front()).U32BE(12);
  if (!bits || *bits >= 32)
    return false;
  cdicBits = *bits;
  const std::uint64_t perRecord = std::uint64_t{1} << cdicBits;
  std::uint64_t total = 0;
  std::size_t dictionaryBytes = 0;
  recordEntries.reserve(dictRecords.size());
  for (const auto &record : dictRecords) {
    dictionaryBytes += record.size();
    const std::uint64_t room =
        record.size() > kCdicHeaderSize ? (record.size() - kCdicHeaderSize) / 2 : 0;
    const auto count = static_cast<std::uint32_t>(std::min(perRecord, room));
    recordEntries.push_back({static_cast<std::uint32_t>(total), count});
    total += count;
  }
  entries.resize(total);
  keptLimit = std::min(kMaxKeptTotal, kKeptPerDictionaryByte * dictionaryBytes + kKeptBlockSize);
  return true;
}

bool HuffDecompressor::Fail() {
  error = 1;
  return false;
}

std::uint32_t HuffDecompressor::SizeOfTrailingEntries(std::span<const std::uint8_t> record) const {
  return ::SizeOfTrailingEntries(record, extraDataFlags);
}

// The dictionary index of the next code. End when the bits are used up or the
// code runs past them; Broken when the tables cannot name a code there.
HuffDecompressor::Next HuffDecompressor::NextCode(BitReader &reader, std::uint32_t &index) const {
  if (reader.Left() == 0)
    return Next::End;
  const std::uint32_t window = reader.Peek32();
  const std::uint32_t entry = codeTable[window >> 24];
  std::uint32_t length = entry & 0x1F;
  if (length == 0)
    return Next::Broken;
  std::uint32_t code = window >> (32 - length);
  std::uint32_t highest = entry >> 8;
  if (!(entry & kTerminal)) {
    while (codeRanges[2 * (length - 1)] > code) {
      if (++length > 32)
        return Next::Broken;
      code = window >> (32 - length);
    }
    highest = codeRanges[2 * (length - 1) + 1];
  }
  if (!reader.Eat(length))
    return Next::End;
  index = highest - code;
  return Next::Code;
}

// The entry at dictionary index `index`, read from its record on first use;
// null when the index or the entry lies outside the dictionary.
HuffDecompressor::Entry *HuffDecompressor::Lookup(std::uint32_t index) {
  const std::uint32_t recordNumber = index >> cdicBits;
  const std::uint32_t number = index & ((std::uint32_t{1} << cdicBits) - 1);
  if (recordNumber >= recordEntries.size() || number >= recordEntries[recordNumber].count)
    return nullptr;
  Entry &entry = entries[recordEntries[recordNumber].first + number];
  if (entry.state == Entry::State::Unknown) {
    const ByteReader record(dictRecords[recordNumber]);
    // `count` keeps the offset itself inside the record.
    const std::size_t at =
        kCdicHeaderSize + *record.U16BE(kCdicHeaderSize + 2 * std::size_t{number});
    const auto word = record.U16BE(at);
    const auto bytes = word ? record.Slice(at + 2, *word & 0x7FFFu) : std::nullopt;
    if (!bytes) {
      entry.state = Entry::State::Broken;
    } else if (*word & 0x8000) {
      entry.state = Entry::State::Literal;
      entry.text = bytes->Bytes().data();
      entry.textLength = static_cast<std::uint32_t>(bytes->Size());
    } else {
      entry.state = Entry::State::Coded;
      entry.bits = bytes->Bytes().data();
      entry.bitsLength = static_cast<std::uint32_t>(bytes->Size());
    }
  }
  return entry.state == Entry::State::Broken ? nullptr : &entry;
}

// Expands a coded entry once and keeps its text, when it expands cleanly
// without any output bound: every code valid, every entry below it kept, no
// cycle, at most 31 levels below it and a bounded length. `nesting` counts the
// expansions in progress above this one.
void HuffDecompressor::Expand(Entry &entry, std::uint32_t nesting) {
  if (nesting > kMaxDepth)
    return; // left Coded, to be tried again from a shallower start
  entry.state = Entry::State::Expanding;
  std::uint64_t length = 0;
  std::uint32_t height = 0;
  bool clean = true;
  BitReader reader({entry.bits, entry.bitsLength});
  std::uint32_t index = 0;
  for (Next next; clean && (next = NextCode(reader, index)) != Next::End;) {
    Entry *part = next == Next::Code ? Lookup(index) : nullptr;
    if (part != nullptr && part->state == Entry::State::Coded)
      Expand(*part, nesting + 1);
    if (part == nullptr || !part->HasText()) {
      clean = false;
    } else {
      length += part->textLength;
      if (part->state == Entry::State::Kept)
        height = std::max<std::uint32_t>(height, part->height + 1u);
      clean = length <= kMaxKeptText && height < kMaxDepth;
    }
  }
  const std::uint8_t *text = clean ? KeepText(entry, static_cast<std::uint32_t>(length)) : nullptr;
  if (text == nullptr) {
    entry.state = Entry::State::Afresh;
    return;
  }
  entry.text = text;
  entry.textLength = static_cast<std::uint32_t>(length);
  entry.height = static_cast<std::uint8_t>(height);
  entry.state = Entry::State::Kept;
}

// Writes the expansion of a cleanly expanding entry, whose parts are all kept
// or literal, into the store; null when the store is full.
const std::uint8_t *HuffDecompressor::KeepText(const Entry &entry, std::uint32_t length) {
  if (keptTotal + length > keptLimit)
    return nullptr;
  if (keptBlocks.empty() || keptBlockSize - keptBlockUsed < length) {
    keptBlockSize = std::max<std::size_t>(kKeptBlockSize, length);
    keptBlocks.push_back(std::make_unique<std::uint8_t[]>(keptBlockSize));
    keptBlockUsed = 0;
  }
  std::uint8_t *const start = keptBlocks.back().get() + keptBlockUsed;
  std::uint8_t *to = start;
  BitReader reader({entry.bits, entry.bitsLength});
  std::uint32_t index = 0;
  while (NextCode(reader, index) == Next::Code) {
    const Entry *part = Lookup(index);
    std::memcpy(to, part->text, part->textLength);
    to += part->textLength;
  }
  keptBlockUsed += length;
  keptTotal += length;
  return start;
}

// Decodes the codes of `bits` at nesting `depth` (0 for a record's own bits)
// and appends their text. Returns false when the record must end.
bool HuffDecompressor::DecodeLevel(std::span<const std::uint8_t> bits, std::uint32_t depth) {
  if (depth > kMaxDepth) {
    error = 1;
    return true; // only this level ends
  }
  BitReader reader(bits);
  std::uint32_t index = 0;
  for (;;) {
    const Next next = NextCode(reader, index);
    if (next == Next::End)
      return true;
    if (next == Next::Broken)
      return Fail();
    if (depth > 0 && --stepsLeft == 0)
      return Fail();
    Entry *entry = Lookup(index);
    if (entry == nullptr)
      return Fail();
    if (entry->state == Entry::State::Coded)
      Expand(*entry, 0);

    const auto room = static_cast<std::uint32_t>(outEnd - outPos);
    if (entry->state == Entry::State::Literal) {
      if (entry->textLength > room)
        return true; // the level ends; the one above goes on
      std::memcpy(outPos, entry->text, entry->textLength);
      outPos += entry->textLength;
    } else if (entry->state == Entry::State::Kept && entry->textLength <= room &&
               depth + 1 + entry->height <= kMaxDepth) {
      std::memcpy(outPos, entry->text, entry->textLength);
      outPos += entry->textLength;
    } else if (!DecodeLevel({entry->bits, entry->bitsLength}, depth + 1)) {
      return false;
    }
  }
}

std::uint32_t HuffDecompressor::Decompress(std::span<const std::uint8_t> record, char *out,
                                           std::uint32_t outSize) {
  if (record.empty() || error != 0 || out == nullptr)
    return 0;
  const std::uint32_t trailing = SizeOfTrailingEntries(record);
  if (trailing >= record.size()) {
    error = 1;
    return 0;
  }
  outStart = outPos = out;
  outEnd = out + outSize;
  stepsLeft = StepBudget(record.size() - trailing);
  DecodeLevel(record.first(record.size() - trailing), 0);
  const auto written = static_cast<std::uint32_t>(outPos - outStart);
  outStart = outEnd = outPos = nullptr;
  return written;
}
