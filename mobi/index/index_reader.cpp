#include "index/index_reader.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "decoding/chinese_code.h"

namespace {

// INDX header fields.
constexpr std::size_t kHeaderLength = 4;
constexpr std::size_t kIdxtOffset = 20;
constexpr std::size_t kCount = 24; // primary: data records; data record: entries
constexpr std::size_t kEncoding = 28;
constexpr std::size_t kTotalEntries = 36;
constexpr std::size_t kCncxCount = 52;
constexpr std::size_t kTagxOffsetField = 180;
constexpr std::size_t kTagxHeader = 12;
constexpr std::size_t kTagRowSize = 4;
constexpr std::uint32_t kWindows1252 = 1252;
// No book tag holds more than a handful of values; a larger count is damage.
constexpr std::uint32_t kMaxValuesPerTag = 100;
constexpr std::size_t kMaxVwiBytes = 5;

struct TagRow {
  std::uint8_t tag = 0;
  std::uint8_t valuesPerEntry = 0;
  std::uint8_t mask = 0;
  std::uint8_t controlByte = 0; // which of the entry's control bytes holds the mask
};

struct Tagx {
  std::vector<TagRow> rows;
  std::uint32_t controlBytes = 0;
};

bool HasMagic(const ByteReader &record, std::size_t offset, const char *magic) {
  const auto bytes = record.Slice(offset, 4);
  return bytes && std::memcmp(bytes->Bytes().data(), magic, 4) == 0;
}

// Where TAGX starts: after the header as a rule, else where offset 180 says
// (some writers), else wherever its magic stands.
std::optional<std::size_t> FindTagx(const ByteReader &primary, std::uint32_t headerLength) {
  if (HasMagic(primary, headerLength, "TAGX"))
    return headerLength;
  if (const auto field = primary.U32BE(kTagxOffsetField);
      field && HasMagic(primary, *field, "TAGX"))
    return *field;
  for (std::size_t at = 4; primary.Holds(at, 4); ++at)
    if (HasMagic(primary, at, "TAGX"))
      return at;
  return std::nullopt;
}

std::optional<Tagx> ReadTagx(const ByteReader &primary, std::size_t at) {
  const std::uint32_t length = primary.U32BE(at + 4).value_or(0);
  const auto controlBytes = primary.U32BE(at + 8);
  if (length < kTagxHeader || !controlBytes || !primary.Holds(at, length))
    return std::nullopt;
  Tagx tagx;
  tagx.controlBytes = *controlBytes;
  std::uint32_t separators = 0;
  for (std::size_t row = at + kTagxHeader; row + kTagRowSize <= at + length; row += kTagRowSize) {
    const std::uint8_t endFlag = *primary.U8(row + 3);
    if (endFlag & 1) {
      ++separators;
      continue;
    }
    // A row must name a control byte the entries have.
    if (separators >= tagx.controlBytes)
      return std::nullopt;
    tagx.rows.push_back({*primary.U8(row), *primary.U8(row + 1), *primary.U8(row + 2),
                         static_cast<std::uint8_t>(separators)});
  }
  if (separators != tagx.controlBytes)
    return std::nullopt;
  return tagx;
}

// What pass 1 finds for one tag: a value count, or the bytes its values fill.
struct PlannedTag {
  std::uint8_t tag = 0;
  std::uint32_t count = 0;
  std::optional<std::uint32_t> byteCount;
};

std::optional<std::vector<std::uint32_t>> ReadValues(const ByteReader &record, std::size_t &at,
                                                     std::size_t end, const PlannedTag &planned) {
  std::vector<std::uint32_t> values;
  auto readOne = [&] {
    const auto value = ReadForwardVwi(record, at, end);
    if (value)
      values.push_back(*value);
    return value.has_value();
  };
  if (planned.byteCount) {
    const std::size_t start = at;
    while (at - start < *planned.byteCount)
      if (values.size() >= kMaxValuesPerTag || !readOne())
        return std::nullopt;
    if (at - start != *planned.byteCount)
      return std::nullopt;
  } else {
    for (std::uint32_t i = 0; i < planned.count; ++i)
      if (!readOne())
        return std::nullopt;
  }
  return values;
}

std::optional<IndexEntry> ReadEntry(const ByteReader &record, std::size_t begin, std::size_t end,
                                    const Tagx &tagx) {
  std::size_t at = begin;
  const std::uint8_t labelLength = *record.U8(at++);
  if (end - at < labelLength)
    return std::nullopt;
  IndexEntry entry;
  const auto label = record.Slice(at, labelLength)->Bytes();
  entry.label.assign(label.begin(), label.end());
  at += labelLength;
  if (end - at < tagx.controlBytes)
    return std::nullopt;
  const std::size_t control = at;
  at += tagx.controlBytes;

  // Pass 1: which tags are present, and how many values each holds. The
  // byte counts stand in the value area ahead of every value.
  std::vector<PlannedTag> plan;
  for (const TagRow &row : tagx.rows) {
    const std::uint8_t value = *record.U8(control + row.controlByte) & row.mask;
    if (value == 0)
      continue;
    if (value == row.mask && std::popcount(row.mask) > 1) {
      const auto bytes = ReadForwardVwi(record, at, end);
      if (!bytes)
        return std::nullopt;
      plan.push_back({row.tag, 0, *bytes});
    } else {
      const std::uint32_t count = std::uint32_t{value} >> std::countr_zero(row.mask);
      if (std::uint64_t{count} * row.valuesPerEntry > kMaxValuesPerTag)
        return std::nullopt;
      plan.push_back({row.tag, count * row.valuesPerEntry, std::nullopt});
    }
  }
  // Pass 2: the values, in plan order. What is left is padding.
  for (const PlannedTag &planned : plan) {
    auto values = ReadValues(record, at, end, planned);
    if (!values)
      return std::nullopt;
    entry.tags.emplace_back(planned.tag, std::move(*values));
  }
  return entry;
}

// The entries of one data record, appended to `entries`; false when the
// record does not check out.
bool ReadDataRecord(const ByteReader &record, const Tagx &tagx, std::uint64_t totalEntries,
                    std::vector<IndexEntry> &entries) {
  const auto headerLength = record.U32BE(kHeaderLength);
  const auto idxt = record.U32BE(kIdxtOffset);
  const auto count = record.U32BE(kCount);
  if (!HasMagic(record, 0, "INDX") || !headerLength || !idxt || !count ||
      *count > totalEntries - entries.size() ||
      !record.Holds(*idxt, 4 + std::uint64_t{*count} * 2) || !HasMagic(record, *idxt, "IDXT"))
    return false;
  std::size_t previousEnd = *headerLength;
  for (std::uint32_t j = 0; j < *count; ++j) {
    const std::size_t begin = *record.U16BE(*idxt + 4 + std::size_t{j} * 2);
    const std::size_t end =
        j + 1 < *count ? *record.U16BE(*idxt + 4 + std::size_t{j + 1} * 2) : std::size_t{*idxt};
    if (begin < previousEnd || begin >= end || end > *idxt)
      return false;
    auto entry = ReadEntry(record, begin, end, tagx);
    if (!entry)
      return false;
    entries.push_back(std::move(*entry));
    previousEnd = end;
  }
  return true;
}

} // namespace

const std::vector<std::uint32_t> *IndexEntry::Tag(std::uint8_t tag) const {
  for (const auto &[number, values] : tags)
    if (number == tag)
      return &values;
  return nullptr;
}

std::optional<std::uint32_t> IndexEntry::First(std::uint8_t tag) const {
  const auto *values = Tag(tag);
  if (values == nullptr || values->empty())
    return std::nullopt;
  return values->front();
}

std::string IndexTable::Decode(std::string_view bytes) const {
  const int length = static_cast<int>(bytes.size());
  // Text that is not well-formed UTF-8 can only be the single-byte code.
  const bool plain = std::all_of(bytes.begin(), bytes.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (encoding != kWindows1252 && (plain || ChineseCode::IsTextUTF8(bytes.data(), length)))
    return std::string(bytes);
  std::string decoded;
  ChineseCode::Windows1252ToUTF_8(decoded, bytes.data(), length);
  return decoded;
}

std::optional<std::string> IndexTable::CncxString(std::uint32_t offset) const {
  const std::uint32_t record = offset >> 16;
  if (record >= cncx.size())
    return std::nullopt;
  const ByteReader &strings = cncx[record];
  std::size_t at = offset & 0xFFFF;
  const auto length = ReadForwardVwi(strings, at, strings.Size());
  const auto text = length ? strings.Slice(at, *length) : std::nullopt;
  if (!text)
    return std::nullopt;
  std::string_view bytes(reinterpret_cast<const char *>(text->Bytes().data()), text->Size());
  return Decode(bytes.substr(0, bytes.find('\0')));
}

std::optional<std::uint32_t> ReadForwardVwi(const ByteReader &bytes, std::size_t &at,
                                            std::size_t end) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kMaxVwiBytes && at + i < end; ++i) {
    const auto byte = bytes.U8(at + i);
    if (!byte)
      return std::nullopt;
    value = value << 7 | (*byte & 0x7F);
    if (*byte & 0x80) {
      if (value > UINT32_MAX)
        return std::nullopt;
      at += i + 1;
      return static_cast<std::uint32_t>(value);
    }
  }
  return std::nullopt;
}

std::optional<IndexTable> ReadIndex(std::span<const ByteReader> records, std::uint32_t first) {
  if (first >= records.size())
    return std::nullopt;
  const ByteReader &primary = records[first];
  const auto headerLength = primary.U32BE(kHeaderLength);
  const auto dataRecords = primary.U32BE(kCount);
  const auto encoding = primary.U32BE(kEncoding);
  const auto totalEntries = primary.U32BE(kTotalEntries);
  const auto cncxRecords = primary.U32BE(kCncxCount);
  if (!HasMagic(primary, 0, "INDX") || !headerLength || *headerLength >= primary.Size() ||
      !dataRecords || !encoding || !totalEntries || !cncxRecords ||
      std::uint64_t{first} + 1 + *dataRecords + *cncxRecords > records.size())
    return std::nullopt;
  const auto tagxAt = FindTagx(primary, *headerLength);
  const auto tagx = tagxAt ? ReadTagx(primary, *tagxAt) : std::nullopt;
  if (!tagx)
    return std::nullopt;

  IndexTable table;
  table.encoding = *encoding;
  for (std::uint32_t i = 1; i <= *dataRecords; ++i)
    if (!ReadDataRecord(records[first + i], *tagx, *totalEntries, table.entries))
      return std::nullopt;
  if (table.entries.size() != *totalEntries)
    return std::nullopt;
  const auto cncx = records.subspan(first + 1 + *dataRecords, *cncxRecords);
  table.cncx.assign(cncx.begin(), cncx.end());
  return table;
}
