// Test-only MOBI writer: builds a Palm database from records the test chooses.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testbook {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(const std::string &text);
void PutU16BE(Bytes &bytes, std::size_t offset, std::uint16_t value);
void PutU32BE(Bytes &bytes, std::size_t offset, std::uint32_t value);
void AppendU16BE(Bytes &bytes, std::uint16_t value);
void AppendU32BE(Bytes &bytes, std::uint32_t value);
// The four big-endian bytes of `value`, e.g. an EXTH record's data.
Bytes U32(std::uint32_t value);

struct ExthRecord {
  std::uint32_t type = 0;
  Bytes data;
};

// A book as record 0 describes it. Records are laid out in this order:
// record 0, text records, image records, HUFF/CDIC records, tail records.
// Fields left unset are derived from the records.
struct BookSpec {
  std::string databaseName = "Test_Book";
  std::string typeCreator = "BOOKMOBI";
  std::uint16_t compression = 1;
  std::uint16_t textRecordSize = 4096;
  std::uint16_t encryption = 0;
  std::uint32_t mobiHeaderLength = 232;
  std::uint32_t textEncoding = 65001;
  std::uint32_t fileVersion = 6;
  std::uint16_t extraDataFlags = 0;
  std::uint32_t orthographicIndex = 0xFFFFFFFF; // set in dictionaries
  // Index fields from 0xC0 on, written where the header holds them; unset
  // ones are the null index 0xFFFFFFFF. A KF8 header needs a skeleton index.
  std::optional<std::uint32_t> fdstIndex;
  std::uint32_t fdstFlowCount = 0; // written with the FDST index
  std::optional<std::uint32_t> ncxIndex;
  std::optional<std::uint32_t> fragmentIndex;
  std::optional<std::uint32_t> skeletonIndex;
  std::optional<std::uint32_t> guideIndex;
  std::string fullName = "A Test Book";
  std::vector<ExthRecord> exth;
  std::optional<std::uint32_t> exthFlags;        // default: 0x40 when exth is not empty
  std::optional<std::uint32_t> textLength;       // default: total size of the text records
  std::optional<std::uint16_t> textRecordCount;  // default: textRecords.size()
  std::optional<std::uint32_t> firstImageRecord; // default: first image record, else 0
  std::optional<std::uint32_t> huffRecordIndex;  // default: first HUFF record, else 0
  std::optional<std::uint32_t> huffRecordCount;  // default: huffRecords.size()

  std::vector<Bytes> textRecords; // stored bytes, already encoded
  std::vector<Bytes> imageRecords;
  std::vector<Bytes> huffRecords; // the HUFF record, then the CDIC records
  std::vector<Bytes> tailRecords; // e.g. FLIS, FCIS, end-of-file records
};

// Offsets of fields inside record 0.
namespace r0 {
constexpr std::size_t kCompression = 0;
constexpr std::size_t kTextLength = 4;
constexpr std::size_t kTextRecordCount = 8;
constexpr std::size_t kTextRecordSize = 10;
constexpr std::size_t kEncryption = 12;
constexpr std::size_t kMobiHeaderLength = 20;
constexpr std::size_t kTextEncoding = 28;
constexpr std::size_t kFileVersion = 36;
constexpr std::size_t kOrthographicIndex = 40;
constexpr std::size_t kFullNameOffset = 84;
constexpr std::size_t kFullNameLength = 88;
constexpr std::size_t kFirstImageRecord = 108;
constexpr std::size_t kHuffRecordIndex = 112;
constexpr std::size_t kHuffRecordCount = 116;
constexpr std::size_t kExthFlags = 128;
constexpr std::size_t kFdstIndex = 0xC0;
constexpr std::size_t kFdstFlowCount = 0xC4;
constexpr std::size_t kExtraDataFlags = 242;
constexpr std::size_t kNcxIndex = 0xF4;
constexpr std::size_t kFragmentIndex = 0xF8;
constexpr std::size_t kSkeletonIndex = 0xFC;
constexpr std::size_t kDatpIndex = 0x100;
constexpr std::size_t kGuideIndex = 0x104;
} // namespace r0

Bytes BuildExth(const std::vector<ExthRecord> &records);
Bytes BuildRecord0(const BookSpec &spec);
// A Palm database holding `records` in order.
Bytes BuildPdb(const std::vector<Bytes> &records, const std::string &databaseName = "Test_Book",
               const std::string &typeCreator = "BOOKMOBI");
Bytes BuildBook(const BookSpec &spec);
// All records of the book in file order, record 0 first.
std::vector<Bytes> BookRecords(const BookSpec &spec);

// A KF8 header's description: file version 8, a MOBI header of 264 bytes and
// a skeleton index (0 unless the test sets another), with `textRecords`.
BookSpec Kf8Spec(std::vector<Bytes> textRecords);

// A hybrid book: the records of `mobi6`, a "BOUNDARY" record, then the records
// of `kf8` (every index its header holds counts from its own header record,
// as the writer's defaults do). Record 0 names the KF8 header record in EXTH
// 121 unless `exth121` says otherwise (a test may name a wrong record, or
// leave the record out with std::nullopt).
struct HybridSpec {
  BookSpec mobi6;
  BookSpec kf8;
  std::optional<std::optional<std::uint32_t>> exth121; // default: the KF8 header record
};
std::vector<Bytes> HybridRecords(const HybridSpec &spec);
Bytes BuildHybrid(const HybridSpec &spec);

// Splits `text` into stored (uncompressed) records of `recordSize` bytes.
std::vector<Bytes> SplitText(const std::string &text, std::size_t recordSize = 4096);

void WriteFile(const std::string &path, const Bytes &bytes);
Bytes ReadFile(const std::string &path);

} // namespace testbook
