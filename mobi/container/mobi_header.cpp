#include "container/mobi_header.h"

#include <cstring>

#include "tarn_mobi.h"

namespace {

// Field offsets inside a header record.
constexpr std::size_t kCompression = 0;
constexpr std::size_t kTextLength = 4;
constexpr std::size_t kTextRecordCount = 8;
constexpr std::size_t kTextRecordSize = 10;
constexpr std::size_t kEncryption = 12;
constexpr std::size_t kMobiHeaderStart = 16;
constexpr std::size_t kMobiHeaderLength = 20;
constexpr std::size_t kTextEncoding = 28;
constexpr std::size_t kFileVersion = 36;
constexpr std::size_t kFullNameOffset = 84;
constexpr std::size_t kFullNameLength = 88;
constexpr std::size_t kOrthographicIndex = 40;
constexpr std::size_t kHeaderValue44 = 44;
constexpr std::size_t kFirstImageRecord = 108;
constexpr std::size_t kHuffRecordIndex = 112;
constexpr std::size_t kHuffRecordCount = 116;
constexpr std::size_t kExthFlags = 128;
constexpr std::size_t kFdstIndex = 0xC0;
constexpr std::size_t kFdstCount = 0xC4;
constexpr std::size_t kExtraDataFlags = 0xF2;
constexpr std::size_t kNcxIndex = 0xF4;
constexpr std::size_t kFragmentIndex = 0xF8;
constexpr std::size_t kSkeletonIndex = 0xFC;
constexpr std::size_t kDatpIndex = 0x100;
constexpr std::size_t kGuideIndex = 0x104;

// The shortest KF8 header that holds the skeleton index and the ones before it.
constexpr std::uint32_t kKf8HeaderLength = 0xF8;

// Reads the fields of the MOBI header, each only where the header holds it.
class HeaderFields {
public:
  HeaderFields(const ByteReader &record, std::uint32_t headerLength)
      : record_(record), end_(kMobiHeaderStart + std::uint64_t{headerLength}) {}

  bool Holds(std::size_t offset, std::size_t size) const {
    return offset + size <= end_ && record_.Holds(offset, size);
  }
  std::uint32_t U32(std::size_t offset, std::uint32_t absent = 0) const {
    return Holds(offset, 4) ? *record_.U32BE(offset) : absent;
  }
  std::uint32_t Index(std::size_t offset) const { return U32(offset, kNullIndex); }
  std::uint16_t U16(std::size_t offset) const {
    return Holds(offset, 2) ? *record_.U16BE(offset) : 0;
  }

private:
  const ByteReader &record_;
  std::uint64_t end_;
};

} // namespace

constexpr std::uint32_t kExthFlag = 0x40;

bool MobiHeader::HasExth() const { return (exthFlags & kExthFlag) != 0; }

std::uint64_t MobiHeader::ExthStart() const {
  return kMobiHeaderStart + std::uint64_t{headerLength};
}

bool MobiHeader::IsKf8() const {
  return fileVersion == MobiHeader::kKf8Version && headerLength >= kKf8HeaderLength &&
         skeletonIndex != kNullIndex;
}

std::optional<MobiHeader> ReadMobiHeader(const ByteReader &record) {
  const auto compression = record.U16BE(kCompression);
  const auto textRecordCount = record.U16BE(kTextRecordCount);
  const auto textRecordSize = record.U16BE(kTextRecordSize);
  const auto encryption = record.U16BE(kEncryption);
  if (!compression || !textRecordCount || !textRecordSize || !encryption)
    return std::nullopt;
  MobiHeader header;
  header.compression = *compression;
  header.textLength = *record.U32BE(kTextLength);
  header.textRecordCount = *textRecordCount;
  header.textRecordSize = *textRecordSize;
  header.encryption = *encryption;
  header.mobiIdentifier = record.Holds(kMobiHeaderStart, 4) &&
                          std::memcmp(record.Bytes().data() + kMobiHeaderStart, "MOBI", 4) == 0;
  header.headerLength = record.U32BE(kMobiHeaderLength).value_or(0);
  // The fields of the first MOBI headers are read wherever record 0 holds
  // them; the later ones only inside the header's stated length.
  const HeaderFields fields(record, header.headerLength);
  const HeaderFields anyLength(record, UINT32_MAX);
  header.textEncoding = anyLength.U32(kTextEncoding);
  header.fileVersion = anyLength.U32(kFileVersion);
  header.orthographicIndex = anyLength.Index(kOrthographicIndex);
  header.headerValue40 = anyLength.U32(kOrthographicIndex);
  header.headerValue44 = anyLength.U32(kHeaderValue44);
  header.firstImageRecord = anyLength.U32(kFirstImageRecord);
  header.huffRecordIndex = anyLength.U32(kHuffRecordIndex);
  header.huffRecordCount = anyLength.U32(kHuffRecordCount);
  header.exthFlags = anyLength.U32(kExthFlags);
  header.fullNameOffset = anyLength.U32(kFullNameOffset);
  header.fullNameLength = anyLength.U32(kFullNameLength);
  header.fdstIndex = fields.Index(kFdstIndex);
  header.fdstCount = fields.U32(kFdstCount);
  header.extraDataFlags = fields.U16(kExtraDataFlags);
  header.ncxIndex = fields.Index(kNcxIndex);
  header.fragmentIndex = fields.Index(kFragmentIndex);
  header.skeletonIndex = fields.Index(kSkeletonIndex);
  header.datpIndex = fields.Index(kDatpIndex);
  header.guideIndex = fields.Index(kGuideIndex);
  return header;
}

int CheckTextFields(const MobiHeader &header) {
  if (header.compression != MobiHeader::kNoCompression &&
      header.compression != MobiHeader::kPalmDoc && header.compression != MobiHeader::kHuffCdic)
    return MOBI_ERR_COMPRESSION;
  if (header.textRecordSize == 0)
    return MOBI_ERR_RECORD_SIZE;
  if (header.encryption != 0)
    return MOBI_ERR_ENCRYPTED;
  return MOBI_OK;
}
