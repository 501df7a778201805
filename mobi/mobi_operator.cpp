#include "mobi_operator.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string_view>

#include "bit_reader.h"
#include "book_contents.h"
#include "byte_reader.h"
#include "c_file.h"
#include "doc_decompressor.h"
#include "filepos_links.h"
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

namespace {

constexpr std::uint32_t kExthFlag = 0x40;
constexpr std::uint32_t kExthAuthor = 100;
constexpr std::uint32_t kExthCoverOffset = 201;
constexpr std::uint32_t kNoCover = 0xFFFFFFFF;

// "Last, First" becomes "First Last" at the first comma, bytes kept as they are.
std::string AuthorFromExth(std::string stored) {
  const std::size_t comma = stored.find(',');
  if (comma == std::string::npos)
    return stored;
  return stored.substr(comma + 1) + " " + stored.substr(0, comma);
}

// The full name from the MOBI header; none when it lies outside record 0.
std::optional<std::string> FullName(const ByteReader &record0) {
  const std::uint32_t offset = record0.U32BE(84).value_or(0);
  const std::uint32_t length = record0.U32BE(88).value_or(0);
  const auto name = record0.Slice(offset, length);
  if (length == 0 || !name)
    return std::nullopt;
  const auto bytes = name->Bytes();
  std::string title(bytes.begin(), bytes.end());
  title.resize(std::strlen(title.c_str())); // a C text ends at its first NUL
  return title;
}

struct ExthFields {
  std::optional<std::string> author;
  std::uint32_t coverOffset = kNoCover;
};

// Walks the EXTH records; the walk ends with record 0 however many records
// the block claims.
ExthFields ReadExth(const ByteReader &record0) {
  ExthFields fields;
  const std::uint64_t start = 16 + std::uint64_t{record0.U32BE(20).value_or(0)};
  if ((record0.U32BE(128).value_or(0) & kExthFlag) == 0 || !record0.Holds(start, 12))
    return fields;
  const auto identifier = record0.Slice(start, 4)->Bytes();
  if (std::memcmp(identifier.data(), "EXTH", 4) != 0)
    return fields;
  const std::uint32_t count = *record0.U32BE(start + 8);
  std::uint64_t at = start + 12;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto type = record0.U32BE(at);
    const auto length = record0.U32BE(at + 4);
    if (!type || !length)
      break;
    const std::uint32_t dataLength = *length > 8 ? *length - 8 : 0;
    const auto data = record0.Slice(at + 8, dataLength);
    if (!data)
      break;
    if (*type == kExthAuthor && dataLength > 0)
      fields.author = AuthorFromExth(std::string(data->Bytes().begin(), data->Bytes().end()));
    else if (*type == kExthCoverOffset && *length == 12)
      fields.coverOffset = *data->U32BE(0);
    at += 8 + std::uint64_t{dataLength};
  }
  return fields;
}

} // namespace

int MobiOperator::ProcessMetaInfo() {
  const std::vector<std::uint8_t> bytes = ReadSection(0);
  const ByteReader reader(bytes);
  record0->textEncoding = reader.U32BE(28).value_or(0);
  record0->title = FullName(reader);
  ExthFields exth = ReadExth(reader);
  record0->author = std::move(exth.author);
  if (exth.coverOffset == kNoCover)
    return MOBI_OK;
  const std::uint64_t coverIndex = std::uint64_t{record0->firstImageRecord} + exth.coverOffset;
  std::string name;
  if (coverIndex <= INT32_MAX && GenImage(static_cast<std::int32_t>(coverIndex), name) == 0)
    imageNames.front() = name;
  return MOBI_OK;
}

// ---------------------------------------------------------------------------
// Text records

namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Far beyond any real book; keeps every later size inside an int and a
// decompression bomb from eating the machine.
constexpr std::size_t kMaxBookText = std::size_t{512} << 20;
// Below that, the text may be a few times the book and no more: PalmDOC at
// most quintuples its records, real HUFF/CDIC books hold less text than file.
// The constant leaves room for a small book of very repetitive text.
constexpr std::uint64_t kTextPerBookByte = 8;
constexpr std::uint64_t kTextAnyBook = std::uint64_t{16} << 20;
// Text records follow one another in a sound book, so together they read at
// most the file. A damaged record list can point many records at the same
// bytes; reading stops at twice the file, keeping the work in proportion.
constexpr std::uint64_t kReadPerBookByte = 2;
// A stored text record is never more than a few times its text (PalmDOC at
// most doubles it); reading no further keeps a bogus record length cheap.
constexpr std::uint32_t kStoredRecordFactor = 8;

std::span<const std::uint8_t> WithoutTrailingEntries(std::span<const std::uint8_t> record,
                                                     std::uint32_t extraDataFlags) {
  const std::uint32_t trailing = SizeOfTrailingEntries(record, extraDataFlags);
  return trailing >= record.size() ? record.first(0) : record.first(record.size() - trailing);
}

// A stored record's text: at most `outSize` bytes, less one final 0x00.
std::uint32_t CopyStoredText(std::span<const std::uint8_t> stored, char *out, std::uint32_t outSize) {
  std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(stored.size(), outSize));
  std::memcpy(out, stored.data(), n);
  if (n > 0 && out[n - 1] == '\0')
    --n;
  return n;
}

// Index records are small (their entry offsets are 16-bit); reading no more
// keeps a damaged record list cheap.
constexpr std::uint32_t kIndexRecordLimit = std::uint32_t{1} << 20;
constexpr std::size_t kIndexDataRecordCount = 24;
constexpr std::size_t kIndexCncxRecordCount = 52;

// The book's table of contents from its NCX index; none when it has no NCX or
// the index does not check out.
std::vector<NcxEntry> BookNcx(MobiOperator &book) {
  const std::vector<std::uint8_t> record0 = book.ReadSection(0);
  const auto first = NcxIndexRecord(ByteReader(record0));
  if (!first || *first >= book.RecordCount())
    return {};
  std::vector<std::vector<std::uint8_t>> records{book.ReadSection(*first, kIndexRecordLimit)};
  const ByteReader primary(records.front());
  const std::uint64_t count = 1 + std::uint64_t{primary.U32BE(kIndexDataRecordCount).value_or(0)} +
                              primary.U32BE(kIndexCncxRecordCount).value_or(0);
  if (*first + count > book.RecordCount())
    return {};
  for (std::uint32_t i = 1; i < count; ++i)
    records.push_back(book.ReadSection(*first + i, kIndexRecordLimit));
  const std::vector<ByteReader> views(records.begin(), records.end());
  const auto table = ReadIndex(views, 0);
  return table ? ReadNcx(*table) : std::vector<NcxEntry>();
}

} // namespace

int MobiOperator::ProcessTextRecord(const char *path) {
  CFile out(std::fopen(path, "wb"));
  if (!out)
    return MOBI_ERR_OPEN;
  int result = MOBI_OK;
  if (std::fwrite(kXmlDeclaration.data(), 1, kXmlDeclaration.size(), out.get()) !=
      kXmlDeclaration.size())
    result = MOBI_ERR_WRITE;
  std::string text;
  if (result == MOBI_OK)
    result = ReadBookText(text);
  if (result == MOBI_OK) {
    // The contents' places are anchored like filepos targets.
    const std::vector<NcxEntry> ncx = BookNcx(*this);
    std::vector<FileposAnchor> anchors = CollectFileposTargets(text);
    AddFileposTargets(anchors, ContentsPositions(ncx), text.size());
    const std::string anchored = InsertFileposAnchors(text, anchors);
    std::string().swap(text); // only the anchored copy is needed from here
    HtmlPieceWriter writer(out.get(), record0->textEncoding == 1252);
    // The list is a piece of its own: it is UTF-8 already, whatever the book's code.
    const std::string_view html = anchored;
    const std::size_t navAt = ContentsPlace(html);
    if (!WriteWithFileposLinks(html.substr(0, navAt), writer) ||
        !writer.WritePiece(ContentsNav(FileposContents(ncx))) ||
        !WriteWithFileposLinks(html.substr(navAt), writer))
      result = MOBI_ERR_WRITE;
  }
  if (std::fclose(out.release()) != 0 && result == MOBI_OK)
    result = MOBI_ERR_WRITE;
  return result;
}

int MobiOperator::ReadBookText(std::string &text) {
  const std::uint32_t outSize = record0->textRecordSize;
  const std::uint64_t maxText =
      std::min<std::uint64_t>(kMaxBookText, kTextPerBookByte * fileSize + kTextAnyBook);
  std::uint64_t readLeft = kReadPerBookByte * fileSize;
  for (std::uint32_t index = 1; index <= record0->textRecordCount && readLeft > 0; ++index) {
    const std::vector<std::uint8_t> record = ReadSection(
        index, static_cast<std::uint32_t>(std::min<std::uint64_t>(
                   std::uint64_t{outSize} * kStoredRecordFactor, readLeft)));
    readLeft -= record.size();
    if (record.empty())
      continue;
    if (text.size() + outSize > maxText)
      return MOBI_ERR_MEMORY;
    const std::size_t start = text.size();
    text.resize(start + outSize);
    char *out = text.data() + start;
    std::uint32_t n = 0;
    switch (record0->compression) {
    case PdbRecord0::kNoCompression:
      n = CopyStoredText(WithoutTrailingEntries(record, record0->extraDataFlags), out, outSize);
      break;
    case PdbRecord0::kPalmDoc:
      n = DocDecompressor().Decompress(WithoutTrailingEntries(record, record0->extraDataFlags), out,
                                       outSize);
      break;
    case PdbRecord0::kHuffCdic:
      n = huff ? huff->Decompress(record, out, outSize) : 0;
      break;
    default:
      return MOBI_ERR_COMPRESSION;
    }
    text.resize(start + std::min(n, outSize));
  }
  return MOBI_OK;
}

// ---------------------------------------------------------------------------
// Image records

namespace {

constexpr std::array<std::string_view, 5> kSkippedRecordTags = {"FLIS", "FCIS", "FDST", "DATP",
                                                                "SRCS"};

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// The first four bytes of a record, ending early at a NUL byte.
std::string RecordTag(std::span<const std::uint8_t> bytes) {
  std::string tag;
  for (std::size_t i = 0; i < bytes.size() && i < 4 && bytes[i] != 0; ++i)
    tag.push_back(static_cast<char>(bytes[i]));
  return tag;
}

// The file extension for a picture record; empty when it is not one to write.
std::string ImageExtension(std::span<const std::uint8_t> bytes, const std::string &tag) {
  // JPEG records are named like GIF ones; the program re-encodes both by content.
  if (StartsWith(bytes, "\xFF\xD8\xFF") || tag == "GIF8")
    return "gif";
  if (StartsWith(bytes, "\x89PNG\r\n\x1A\n"))
    return "png";
  if (StartsWith(bytes, "BM"))
    return "bmp";
  const bool plain = std::all_of(tag.begin(), tag.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
  return plain ? tag : std::string();
}

// How far record `index` may run: to the start of the record that follows it
// in the file. Only a record whose list successor starts below it (or the last
// record) needs the search; without it a damaged list would let every such
// record run to the end of the file and be written out whole.
std::uint32_t RecordExtent(const PdbHeader &header, std::uint32_t index) {
  const std::vector<std::uint32_t> &offsets = header.recordOffsets;
  if (index + 1 < offsets.size() && offsets[index + 1] >= offsets[index])
    return UINT32_MAX;
  return header.ExtentInFile(index);
}

// Writes `bytes` to `path`; a file that cannot be written whole is removed.
bool WriteWholeFile(const std::string &path, std::span<const std::uint8_t> bytes) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

} // namespace

int MobiOperator::ProcessImageRecord() {
  const std::uint32_t first = record0->firstImageRecord;
  if (first == 0)
    return MOBI_OK;
  // Entry N belongs to image number N whether or not its record was written,
  // so every recindex finds its own picture.
  for (std::uint64_t index = first; index < RecordCount() && index <= INT32_MAX; ++index) {
    std::string name;
    GenImage(static_cast<std::int32_t>(index), name);
    imageNames.push_back(std::move(name));
  }
  return MOBI_OK;
}

int MobiOperator::GenImage(std::int32_t index, std::string &name) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= RecordCount())
    return 1;
  const std::uint32_t record = static_cast<std::uint32_t>(index);
  const std::vector<std::uint8_t> bytes = ReadSection(record, RecordExtent(*header, record));
  if (bytes.empty())
    return 1;
  const std::string tag = RecordTag(bytes);
  if (std::find(kSkippedRecordTags.begin(), kSkippedRecordTags.end(), tag) != kSkippedRecordTags.end())
    return 1;
  const std::string folder = outputFolder + "/" + bookStem + "_files/";
  if (!PathExists(folder.c_str()))
    PathCreateFolder(folder.c_str());
  const std::string extension = ImageExtension(bytes, tag);
  if (extension.empty())
    return 1;
  const std::int64_t number = std::int64_t{index} - record0->firstImageRecord + 1;
  const std::string fileName = "image_" + std::to_string(number) + "." + extension;
  if (!WriteWholeFile(folder + fileName, bytes))
    return 1;
  name = bookStem + "_files/" + fileName;
  return 0;
}
