#include "index_writer.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

namespace testbook {

namespace {

constexpr std::uint32_t kHeaderLength = 192;

Bytes IndxHeader() {
  Bytes header(kHeaderLength, 0);
  std::copy_n("INDX", 4, header.begin());
  PutU32BE(header, 4, kHeaderLength);
  return header;
}

Bytes Tagx(const std::vector<TagRow> &rows) {
  Bytes tagx = ToBytes("TAGX");
  AppendU32BE(tagx, static_cast<std::uint32_t>(12 + 4 * rows.size()));
  AppendU32BE(tagx,
              static_cast<std::uint32_t>(std::count_if(
                  rows.begin(), rows.end(), [](const TagRow &row) { return row.endFlag & 1; })));
  for (const TagRow &row : rows)
    tagx.insert(tagx.end(), {row.tag, row.valuesPerEntry, row.mask, row.endFlag});
  return tagx;
}

const std::vector<std::uint32_t> *ValuesOf(const IndexEntrySpec &entry, std::uint8_t tag) {
  for (const auto &[number, values] : entry.tags)
    if (number == tag)
      return &values;
  return nullptr;
}

Bytes EncodeEntry(const IndexEntrySpec &entry, const std::vector<TagRow> &rows) {
  Bytes control;
  Bytes byteCounts;
  Bytes values;
  std::size_t controlByte = 0;
  control.push_back(0);
  for (const TagRow &row : rows) {
    if (row.endFlag & 1) {
      ++controlByte;
      control.push_back(0);
      continue;
    }
    const auto *tagValues = ValuesOf(entry, row.tag);
    if (tagValues == nullptr)
      continue;
    Bytes encoded;
    for (std::uint32_t value : *tagValues) {
      const Bytes vwi = ForwardVwi(value);
      encoded.insert(encoded.end(), vwi.begin(), vwi.end());
    }
    const int shift = std::countr_zero(row.mask);
    const std::uint32_t count = static_cast<std::uint32_t>(tagValues->size()) / row.valuesPerEntry;
    const std::uint32_t fits = std::uint32_t{row.mask} >> shift;
    if (std::popcount(row.mask) > 1 && count >= fits) {
      control[controlByte] |= row.mask;
      const Bytes length = ForwardVwi(static_cast<std::uint32_t>(encoded.size()));
      byteCounts.insert(byteCounts.end(), length.begin(), length.end());
    } else {
      control[controlByte] |= static_cast<std::uint8_t>(count << shift);
    }
    values.insert(values.end(), encoded.begin(), encoded.end());
  }
  control.pop_back(); // the slot opened by the last end flag
  Bytes out{static_cast<std::uint8_t>(entry.label.size())};
  out.insert(out.end(), entry.label.begin(), entry.label.end());
  for (const Bytes *part : {&control, &byteCounts, &values})
    out.insert(out.end(), part->begin(), part->end());
  return out;
}

Bytes DataRecord(const std::vector<Bytes> &entries) {
  Bytes record = IndxHeader();
  std::vector<std::uint16_t> offsets;
  for (const Bytes &entry : entries) {
    offsets.push_back(static_cast<std::uint16_t>(record.size()));
    record.insert(record.end(), entry.begin(), entry.end());
  }
  if (record.size() % 2 != 0)
    record.push_back(0);
  PutU32BE(record, 20, static_cast<std::uint32_t>(record.size()));
  PutU32BE(record, 24, static_cast<std::uint32_t>(entries.size()));
  const Bytes idxt = ToBytes("IDXT");
  record.insert(record.end(), idxt.begin(), idxt.end());
  for (std::uint16_t offset : offsets)
    AppendU16BE(record, offset);
  if (record.size() > 0xFFFF)
    throw std::length_error("index data record past 64 KiB");
  return record;
}

} // namespace

Bytes ForwardVwi(std::uint32_t value) {
  Bytes bytes{static_cast<std::uint8_t>(0x80 | (value & 0x7F))};
  for (value >>= 7; value != 0; value >>= 7)
    bytes.insert(bytes.begin(), static_cast<std::uint8_t>(value & 0x7F));
  return bytes;
}

std::uint32_t Cncx::Add(std::string_view text) {
  Bytes string = ForwardVwi(static_cast<std::uint32_t>(text.size()));
  string.insert(string.end(), text.begin(), text.end());
  if (records_.empty() || records_.back().size() + string.size() > 0xFFF0)
    records_.emplace_back();
  Bytes &record = records_.back();
  const auto offset = static_cast<std::uint32_t>((records_.size() - 1) << 16 | record.size());
  record.insert(record.end(), string.begin(), string.end());
  return offset;
}

std::vector<TagRow> NcxTagRows() {
  return {{1, 1, 0x01, 0},  {2, 1, 0x02, 0},  {3, 1, 0x04, 0},  {4, 1, 0x08, 0},
          {6, 2, 0x10, 0},  {21, 1, 0x20, 0}, {22, 1, 0x40, 0}, {23, 1, 0x80, 0},
          {0, 0, 0, 1}};
}

std::vector<Bytes> BuildIndex(const IndexSpec &spec) {
  std::vector<Bytes> dataRecords;
  const std::size_t perRecord =
      spec.entriesPerRecord == 0 ? spec.entries.size() : spec.entriesPerRecord;
  for (std::size_t first = 0; first < spec.entries.size(); first += perRecord) {
    std::vector<Bytes> encoded;
    for (std::size_t i = first; i < std::min(first + perRecord, spec.entries.size()); ++i)
      encoded.push_back(EncodeEntry(spec.entries[i], spec.tagRows));
    dataRecords.push_back(DataRecord(encoded));
  }
  Bytes primary = IndxHeader();
  PutU32BE(primary, 24, static_cast<std::uint32_t>(dataRecords.size()));
  PutU32BE(primary, 28, spec.encoding);
  PutU32BE(primary, 36, static_cast<std::uint32_t>(spec.entries.size()));
  PutU32BE(primary, 52, static_cast<std::uint32_t>(spec.cncxRecords.size()));
  const Bytes tagx = Tagx(spec.tagRows);
  primary.insert(primary.end(), tagx.begin(), tagx.end());

  std::vector<Bytes> records{std::move(primary)};
  records.insert(records.end(), dataRecords.begin(), dataRecords.end());
  records.insert(records.end(), spec.cncxRecords.begin(), spec.cncxRecords.end());
  return records;
}

} // namespace testbook
