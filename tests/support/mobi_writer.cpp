#include "mobi_writer.h"

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace testbook {

Bytes ToBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

void PutU16BE(Bytes &bytes, std::size_t offset, std::uint16_t value) {
  if (bytes.size() < offset + 2)
    bytes.resize(offset + 2);
  bytes[offset] = static_cast<std::uint8_t>(value >> 8);
  bytes[offset + 1] = static_cast<std::uint8_t>(value);
}

void PutU32BE(Bytes &bytes, std::size_t offset, std::uint32_t value) {
  PutU16BE(bytes, offset, static_cast<std::uint16_t>(value >> 16));
  PutU16BE(bytes, offset + 2, static_cast<std::uint16_t>(value));
}

void AppendU16BE(Bytes &bytes, std::uint16_t value) { PutU16BE(bytes, bytes.size(), value); }

void AppendU32BE(Bytes &bytes, std::uint32_t value) { PutU32BE(bytes, bytes.size(), value); }

Bytes U32(std::uint32_t value) {
  Bytes bytes;
  AppendU32BE(bytes, value);
  return bytes;
}

Bytes BuildExth(const std::vector<ExthRecord> &records) {
  Bytes body;
  for (const ExthRecord &record : records) {
    AppendU32BE(body, record.type);
    AppendU32BE(body, static_cast<std::uint32_t>(record.data.size() + 8));
    body.insert(body.end(), record.data.begin(), record.data.end());
  }
  while (body.size() % 4 != 0)
    body.push_back(0);
  Bytes exth = ToBytes("EXTH");
  AppendU32BE(exth, static_cast<std::uint32_t>(12 + body.size()));
  AppendU32BE(exth, static_cast<std::uint32_t>(records.size()));
  exth.insert(exth.end(), body.begin(), body.end());
  return exth;
}

Bytes BuildRecord0(const BookSpec &spec) {
  const std::size_t textCount = spec.textRecords.size();
  const std::size_t imageCount = spec.imageRecords.size();
  std::uint32_t textLength = 0;
  for (const Bytes &record : spec.textRecords)
    textLength += static_cast<std::uint32_t>(record.size());

  Bytes r(16 + spec.mobiHeaderLength, 0);
  PutU16BE(r, r0::kCompression, spec.compression);
  PutU32BE(r, r0::kTextLength, spec.textLength.value_or(textLength));
  PutU16BE(r, r0::kTextRecordCount,
           spec.textRecordCount.value_or(static_cast<std::uint16_t>(textCount)));
  PutU16BE(r, r0::kTextRecordSize, spec.textRecordSize);
  PutU16BE(r, r0::kEncryption, spec.encryption);
  r[16] = 'M';
  r[17] = 'O';
  r[18] = 'B';
  r[19] = 'I';
  PutU32BE(r, r0::kMobiHeaderLength, spec.mobiHeaderLength);
  PutU32BE(r, 24, 2); // book type
  PutU32BE(r, r0::kTextEncoding, spec.textEncoding);
  PutU32BE(r, r0::kFileVersion, spec.fileVersion);
  PutU32BE(r, r0::kOrthographicIndex, spec.orthographicIndex);
  PutU32BE(r, 44, 0xFFFFFFFF);
  PutU32BE(
      r, r0::kFirstImageRecord,
      spec.firstImageRecord.value_or(imageCount ? static_cast<std::uint32_t>(1 + textCount) : 0));
  PutU32BE(
      r, r0::kHuffRecordIndex,
      spec.huffRecordIndex.value_or(
          spec.huffRecords.empty() ? 0 : static_cast<std::uint32_t>(1 + textCount + imageCount)));
  PutU32BE(r, r0::kHuffRecordCount,
           spec.huffRecordCount.value_or(static_cast<std::uint32_t>(spec.huffRecords.size())));
  PutU32BE(r, r0::kExthFlags, spec.exthFlags.value_or(spec.exth.empty() ? 0 : 0x40));
  if (spec.mobiHeaderLength >= 228)
    PutU16BE(r, r0::kExtraDataFlags, spec.extraDataFlags);
  const std::pair<std::size_t, std::optional<std::uint32_t>> indexes[] = {
      {r0::kFdstIndex, spec.fdstIndex},         {r0::kNcxIndex, spec.ncxIndex},
      {r0::kFragmentIndex, spec.fragmentIndex}, {r0::kSkeletonIndex, spec.skeletonIndex},
      {r0::kDatpIndex, std::nullopt},           {r0::kGuideIndex, spec.guideIndex}};
  for (const auto &[field, value] : indexes)
    if (field + 4 <= 16 + spec.mobiHeaderLength)
      PutU32BE(r, field, value.value_or(0xFFFFFFFF));
  if (spec.fdstIndex && r0::kFdstFlowCount + 4 <= 16 + spec.mobiHeaderLength)
    PutU32BE(r, r0::kFdstFlowCount, spec.fdstFlowCount);
  r.resize(16 + spec.mobiHeaderLength); // Put* never grows past a long header

  if (!spec.exth.empty()) {
    Bytes exth = BuildExth(spec.exth);
    r.insert(r.end(), exth.begin(), exth.end());
  }
  PutU32BE(r, r0::kFullNameOffset, static_cast<std::uint32_t>(r.size()));
  PutU32BE(r, r0::kFullNameLength, static_cast<std::uint32_t>(spec.fullName.size()));
  r.insert(r.end(), spec.fullName.begin(), spec.fullName.end());
  r.insert(r.end(), 2, 0);
  while (r.size() % 4 != 0)
    r.push_back(0);
  return r;
}

Bytes BuildPdb(const std::vector<Bytes> &records, const std::string &databaseName,
               const std::string &typeCreator) {
  Bytes pdb(78, 0);
  for (std::size_t i = 0; i < databaseName.size() && i < 31; ++i)
    pdb[i] = static_cast<std::uint8_t>(databaseName[i]);
  for (std::size_t i = 0; i < typeCreator.size() && i < 8; ++i)
    pdb[60 + i] = static_cast<std::uint8_t>(typeCreator[i]);
  PutU16BE(pdb, 76, static_cast<std::uint16_t>(records.size()));
  std::uint32_t offset = static_cast<std::uint32_t>(78 + 8 * records.size() + 2);
  for (std::size_t i = 0; i < records.size(); ++i) {
    AppendU32BE(pdb, offset);
    AppendU32BE(pdb, static_cast<std::uint32_t>(2 * i)); // attributes 0, unique id
    offset += static_cast<std::uint32_t>(records[i].size());
  }
  pdb.push_back(0);
  pdb.push_back(0);
  for (const Bytes &record : records)
    pdb.insert(pdb.end(), record.begin(), record.end());
  return pdb;
}

std::vector<Bytes> BookRecords(const BookSpec &spec) {
  std::vector<Bytes> records{BuildRecord0(spec)};
  for (const auto *group : {&spec.textRecords, &spec.imageRecords, &spec.huffRecords,
                            &spec.tailRecords})
    records.insert(records.end(), group->begin(), group->end());
  return records;
}

Bytes BuildBook(const BookSpec &spec) {
  return BuildPdb(BookRecords(spec), spec.databaseName, spec.typeCreator);
}

BookSpec Kf8Spec(std::vector<Bytes> textRecords) {
  BookSpec spec;
  spec.fileVersion = 8;
  spec.mobiHeaderLength = 264;
  spec.skeletonIndex = 0;
  spec.textRecords = std::move(textRecords);
  return spec;
}

std::vector<Bytes> HybridRecords(const HybridSpec &spec) {
  BookSpec mobi6 = spec.mobi6;
  const auto kf8Header = static_cast<std::uint32_t>(BookRecords(mobi6).size() + 1);
  if (const auto named = spec.exth121.value_or(kf8Header))
    mobi6.exth.push_back({121, U32(*named)});
  std::vector<Bytes> records = BookRecords(mobi6);
  records.push_back(ToBytes("BOUNDARY"));
  const std::vector<Bytes> kf8 = BookRecords(spec.kf8);
  records.insert(records.end(), kf8.begin(), kf8.end());
  return records;
}

Bytes BuildHybrid(const HybridSpec &spec) {
  return BuildPdb(HybridRecords(spec), spec.mobi6.databaseName, spec.mobi6.typeCreator);
}

std::vector<Bytes> SplitText(const std::string &text, std::size_t recordSize) {
  std::vector<Bytes> records;
  for (std::size_t at = 0; at < text.size(); at += recordSize)
    records.push_back(ToBytes(text.substr(at, recordSize)));
  return records;
}

void WriteFile(const std::string &path, const Bytes &bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out)
    throw std::runtime_error("cannot write " + path);
  out.write(reinterpret_cast<const char *>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace testbook
