#include "mobi_operator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "byte_reader.h"
#include "mobi_html.h"
#include "tarn_mobi.h"

// ---------------------------------------------------------------------------
// Record 0

namespace {

// Field offsets inside record 0.
constexpr std::size_t kCompression = 0;
constexpr std::size_t kTextRecordCount = 8;
constexpr std::size_t kTextRecordSize = 10;
constexpr std::size_t kEncryption = 12;
constexpr std::size_t kMobiHeaderLength = 20;
constexpr std::size_t kHeaderValue40 = 40;
constexpr std::size_t kHeaderValue44 = 44;
constexpr std::size_t kFirstImageRecord = 108;
constexpr std::size_t kHuffRecordIndex = 112;
constexpr std::size_t kHuffRecordCount = 116;
constexpr std::size_t kExtraDataFlags = 242;
// The shortest MOBI header that holds the extra data flags.
constexpr std::uint32_t kHeaderLengthWithFlags = 228;

bool KnownCompression(std::uint16_t compression) {
  return compression == PdbRecord0::kNoCompression || compression == PdbRecord0::kPalmDoc ||
         compression == PdbRecord0::kHuffCdic;
}

std::uint32_t ExtraDataFlags(const ByteReader &record) {
  const auto headerLength = record.U32BE(kMobiHeaderLength);
  if (!headerLength || *headerLength < kHeaderLengthWithFlags)
    return 0;
  return record.U16BE(kExtraDataFlags).value_or(0);
}

} // namespace

int MobiOperator::ProcessZeroRecord() {
  if (!IsOpen())
    return MOBI_ERR_NOT_OPEN;
  try {
    const std::vector<std::uint8_t> bytes = ReadSection(0);
    const ByteReader record(bytes);
    const auto compression = record.U16BE(kCompression);
    if (!compression)
      return MOBI_ERR_DAMAGED;
    record0->compression = *compression;
    if (!KnownCompression(*compression))
      return MOBI_ERR_COMPRESSION;
    const auto textRecordCount = record.U16BE(kTextRecordCount);
    const auto textRecordSize = record.U16BE(kTextRecordSize);
    const auto encryption = record.U16BE(kEncryption);
    if (!textRecordCount || !textRecordSize || !encryption)
      return MOBI_ERR_DAMAGED;
    // Records 1 to textRecordCount must all exist.
    record0->textRecordCount =
        static_cast<std::uint16_t>(std::min<std::uint32_t>(*textRecordCount, RecordCount() - 1));
    record0->textRecordSize = *textRecordSize;
    if (*textRecordSize == 0)
      return MOBI_ERR_RECORD_SIZE;
    if (*encryption != 0)
      return MOBI_ERR_ENCRYPTED;
    // A header too short for a field leaves its default.
    record0->headerValue40 = record.U32BE(kHeaderValue40).value_or(0);
    record0->headerValue44 = record.U32BE(kHeaderValue44).value_or(0);
    record0->firstImageRecord = record.U32BE(kFirstImageRecord).value_or(0);
    record0->extraDataFlags = ExtraDataFlags(record);
    if (*compression != PdbRecord0::kHuffCdic)
      return MOBI_OK;
    const auto huffRecordIndex = record.U32BE(kHuffRecordIndex);
    const auto huffRecordCount = record.U32BE(kHuffRecordCount);
    if (!huffRecordIndex || !huffRecordCount || *huffRecordCount < 2 ||
        std::uint64_t{*huffRecordIndex} + *huffRecordCount >= RecordCount())
      return MOBI_ERR_ENCRYPTED;
    huff = MakeHuffDecompressor(*huffRecordIndex, *huffRecordCount);
    return MOBI_OK;
  } catch (const std::bad_alloc &) {
    return MOBI_ERR_MEMORY;
  }
}

// The decoder over the HUFF record at `first` and the CDIC records behind it.
// The dictionary is read only when its records lie in order inside the file;
// otherwise the decoder starts failed and every text record comes out empty.
std::unique_ptr<HuffDecompressor> MobiOperator::MakeHuffDecompressor(std::uint32_t first,
                                                                     std::uint32_t count) {
  const std::vector<std::uint32_t> &offsets = header->recordOffsets;
  const std::uint32_t last = first + count;
  bool usable = offsets[last] <= fileSize;
  for (std::uint32_t i = first + 1; usable && i < last; ++i)
    usable = offsets[i] <= offsets[i + 1];
  std::vector<std::vector<std::uint8_t>> dictionary;
  for (std::uint32_t i = first + 1; usable && i < last; ++i) {
    dictionary.push_back(ReadSection(i));
    usable = dictionary.back().size() == offsets[i + 1] - offsets[i];
  }
  if (!usable)
    dictionary.clear();
  return std::make_unique<HuffDecompressor>(ReadSection(first), std::move(dictionary),
                                            record0->extraDataFlags);
}

// ---------------------------------------------------------------------------
// Opening, records and the unpacking order

namespace {

bool FilesOpened(const FILES *files) {
  return files != nullptr && files->count > 0 && files->streams != nullptr &&
         files->streams[0] != nullptr;
}

std::uint64_t SizeOfFile(FILES *files) {
  if (FilesSeek(files, 0, FILES_SEEK_END) != 0)
    return 0;
  std::uint64_t size = FilesTell(files);
  FilesSeek(files, 0, FILES_SEEK_SET);
  return size;
}

// The file name of `path` without its folder and without its last extension.
std::string StemOf(const std::string &path) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

MobiOperator::~MobiOperator() { Destroy(); }

int MobiOperator::Init(const char *path) {
  try {
    const char *paths[] = {path};
    file = FilesOpen(paths, 1, "rb");
    if (!FilesOpened(file))
      return MOBI_ERR_OPEN;
    fileSize = SizeOfFile(file);
    header = std::make_unique<PdbHeader>();
    header->read(file);
    if (header->typeCreator != "BOOKMOBI")
      return MOBI_ERR_NOT_MOBI;
    record0 = std::make_unique<PdbRecord0>();
    imageNames.assign(1, std::string());
    return MOBI_OK;
  } catch (const std::bad_alloc &) {
    return MOBI_ERR_MEMORY;
  }
}

void MobiOperator::Destroy() {
  if (file != nullptr) {
    FilesClose(file);
    file = nullptr;
  }
  header.reset();
  huff.reset();
  record0.reset();
}

std::uint32_t MobiOperator::RecordCount() const {
  return header ? static_cast<std::uint32_t>(header->recordOffsets.size()) : 0;
}

std::uint32_t MobiOperator::LoadSection(std::uint32_t index) {
  const std::uint32_t count = RecordCount();
  if (index >= count)
    return 0;
  const std::uint32_t offset = header->recordOffsets[index];
  FilesSeek(file, offset, FILES_SEEK_SET);
  if (index == count - 1)
    return 0x0FFFFFFFu - offset;
  return header->recordOffsets[index + 1] - offset;
}

std::vector<std::uint8_t> MobiOperator::ReadSection(std::uint32_t index, std::uint32_t limit) {
  const std::uint32_t length = LoadSection(index);
  if (length == 0)
    return {};
  const std::uint64_t offset = header->recordOffsets[index];
  const std::uint64_t left = offset < fileSize ? fileSize - offset : 0;
  std::vector<std::uint8_t> bytes(
      static_cast<std::size_t>(std::min<std::uint64_t>({length, limit, left})));
  if (!bytes.empty())
    bytes.resize(FilesRead(bytes.data(), bytes.size(), 1, file));
  return bytes;
}

int MobiOperator::UnpackBook(const char *htmlPath) {
  if (!IsOpen())
    return MOBI_ERR_NOT_OPEN;
  const std::string path = htmlPath != nullptr ? htmlPath : "";
  char *folder = PathGetFolder(path.c_str());
  if (folder == nullptr)
    return MOBI_ERR_MEMORY;
  outputFolder = folder;
  std::free(folder);
  bookStem = StemOf(path);
  if (!PathExists(outputFolder.c_str()))
    return MOBI_ERR_NO_FOLDER;

  // A second run starts from a fresh list and decoder rather than piling up.
  imageNames.assign(1, std::string());
  huff.reset();

  if (int result = ProcessZeroRecord())
    return result;
  if (int result = ProcessMetaInfo())
    return result;
  if (int result = ProcessTextRecord(path.c_str()))
    return result;
  if (int result = ProcessImageRecord())
    return result;
  if (record0->textEncoding != 1252 && record0->textEncoding != 65001)
    return MOBI_ERR_ENCODING;
  if (imageNames.size() == 1 && imageNames[0].empty())
    return MOBI_OK;
  return MobiHtmlProcess2(path.c_str(), imageNames);
}

const std::optional<std::string> &MobiOperator::GetTitle() const { return record0->title; }

const std::optional<std::string> &MobiOperator::GetAuthor() const { return record0->author; }

const std::string &MobiOperator::GetCoverImageName() const { return imageNames.front(); }

// ---------------------------------------------------------------------------
// EXTH metadata

int MobiOperator::ProcessMetaInfo() { return MOBI_OK; }

// ---------------------------------------------------------------------------
// Text records

int MobiOperator::ProcessTextRecord(const char *) { return MOBI_OK; }

// ---------------------------------------------------------------------------
// Image records

int MobiOperator::ProcessImageRecord() { return MOBI_OK; }

int MobiOperator::GenImage(std::int32_t, std::string &) { return 1; }
