#include "mobi_operator.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "index/book_contents.h"
#include "index/book_index.h"
#include "index/index_reader.h"
#include "kf8/kf8_rendition.h"
#include "mobi6/filepos_links.h"
#include "resources/image_record.h"
#include "container/exth_header.h"
#include "container/mobi_header.h"
#include "mobi6/mobi_html.h"
#include "kf8/resc_metadata.h"
#include "tarn_mobi.h"
#include "common/text_util.h"

namespace {

bool FilesOpened(const FILES *files) {
  return files != nullptr && files->count > 0 && files->streams != nullptr &&
         files->streams[0] != nullptr;
}

// The whole file, read in one piece from its start.
std::vector<std::uint8_t> ReadWholeFile(FILES *files) {
  if (FilesSeek(files, 0, FILES_SEEK_END) != 0)
    return {};
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(FilesTell(files)));
  FilesSeek(files, 0, FILES_SEEK_SET);
  if (!bytes.empty())
    bytes.resize(FilesRead(bytes.data(), bytes.size(), 1, files));
  return bytes;
}

// The file name of `path` without its folder and without its last extension.
std::string StemOf(const std::string &path) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool SupportedEncoding(std::uint32_t encoding) { return encoding == 1252 || encoding == 65001; }

} // namespace

MobiOperator::~MobiOperator() { Destroy(); }

int MobiOperator::Init(const char *path) {
  const char *paths[] = {path};
  file = FilesOpen(paths, 1, "rb");
  if (!FilesOpened(file))
    return MOBI_ERR_OPEN;
  std::vector<std::uint8_t> bytes = ReadWholeFile(file);
  header = std::make_unique<PdbHeader>();
  header->read(bytes);
  if (header->typeCreator != "BOOKMOBI")
    return MOBI_ERR_NOT_MOBI;
  records = std::make_unique<BookRecords>(std::move(bytes), header->recordOffsets);
  sections = FindSections(*records);
  record0 = std::make_unique<PdbRecord0>();
  imageNames.assign(1, std::string());
  return MOBI_OK;
}

void MobiOperator::Destroy() {
  if (file != nullptr) {
    FilesClose(file);
    file = nullptr;
  }
  header.reset();
  huff.reset();
  record0.reset();
  records.reset();
}

std::uint32_t MobiOperator::LoadSection(std::uint32_t index) const {
  const std::uint32_t count = header ? static_cast<std::uint32_t>(header->recordOffsets.size()) : 0;
  if (index >= count)
    return 0;
  const std::uint32_t offset = header->recordOffsets[index];
  if (index == count - 1)
    return 0x0FFFFFFFu - offset;
  return header->recordOffsets[index + 1] - offset;
}

const BookSection &MobiOperator::TextSection() const {
  return sections.mobi6 ? *sections.mobi6 : *sections.kf8;
}

int MobiOperator::SetOutputPath(const char *htmlPath) {
  const std::string path = htmlPath != nullptr ? htmlPath : "";
  char *folder = PathGetFolder(path.c_str());
  if (folder == nullptr)
    throw std::bad_alloc();
  outputFolder = folder;
  std::free(folder);
  bookStem = StemOf(path);
  return PathExists(outputFolder.c_str()) ? MOBI_OK : MOBI_ERR_NO_FOLDER;
}

int MobiOperator::UnpackBook(const char *htmlPath) {
  if (!IsOpen())
    return MOBI_ERR_NOT_OPEN;
  const std::string path = htmlPath != nullptr ? htmlPath : "";
  if (int result = SetOutputPath(path.c_str()))
    return result;
  // A second run starts from a fresh list and decoder rather than piling up.
  imageNames.assign(1, std::string());
  huff.reset();

  if (int result = ProcessZeroRecord())
    return result;
  if (int result = ProcessMetaInfo())
    return result;
  // The KF8 rendition is the publisher's full one; a hybrid whose KF8
  // section cannot be read still has its MOBI6 half.
  if (sections.kf8) {
    const int result = ProcessKf8Rendition(path);
    if (result == MOBI_OK) {
      const auto kf8 = ReadMobiHeader(records->Record(sections.kf8->header));
      return SupportedEncoding(kf8 ? kf8->textEncoding : 0) ? MOBI_OK : MOBI_ERR_ENCODING;
    }
    if (!sections.mobi6 || result == MOBI_ERR_OPEN || result == MOBI_ERR_WRITE ||
        result == MOBI_ERR_RESOURCE)
      return result;
  }
  if (int result = ProcessTextRecord(path.c_str()))
    return result;
  if (int result = ProcessImageRecord())
    return result;
  // The post-pass runs whatever the encoding, so a book in another code
  // page still shows its pictures.
  if (imageNames.size() > 1 || !imageNames[0].empty())
    if (int result = MobiHtmlProcess2(path.c_str(), imageNames))
      return result;
  return SupportedEncoding(record0->textEncoding) ? MOBI_OK : MOBI_ERR_ENCODING;
}

const std::optional<std::string> &MobiOperator::GetTitle() const { return record0->title; }

const std::optional<std::string> &MobiOperator::GetAuthor() const { return record0->author; }

const std::string &MobiOperator::GetCoverImageName() const { return imageNames.front(); }

std::optional<std::string> MobiOperator::GetFact(std::string_view name) const {
  const auto fact = facts.find(name);
  if (fact == facts.end())
    return std::nullopt;
  // EXTH texts are in the book's encoding; a UTF-8 book's malformed text is
  // taken as Windows-1252 too, so what leaves the library is always UTF-8.
  if (record0->textEncoding != 1252 && textutil::IsWellFormedUtf8(fact->second))
    return fact->second;
  return textutil::Windows1252ToUtf8(fact->second);
}

int MobiOperator::ProcessZeroRecord() {
  if (!IsOpen())
    return MOBI_ERR_NOT_OPEN;
  const BookSection &section = TextSection();
  const auto fields = ReadMobiHeader(records->Record(section.header));
  if (!fields)
    return MOBI_ERR_DAMAGED;
  record0->compression = fields->compression;
  record0->textRecordSize = fields->textRecordSize;
  record0->headerValue40 = fields->headerValue40;
  record0->headerValue44 = fields->headerValue44;
  record0->firstImageRecord = fields->firstImageRecord;
  record0->extraDataFlags = fields->extraDataFlags;
  // Some writers put the contents index in the orthographic slot as well; a
  // dictionary's look-up index is an index of its own.
  dictionary =
      fields->orthographicIndex != kNullIndex && fields->orthographicIndex != fields->ncxIndex;
  SectionText text;
  const int result = PrepareSectionText(*records, section, *fields, text);
  record0->textRecordCount = static_cast<std::uint16_t>(text.layout.recordCount);
  textLayout = text.layout;
  huff = std::move(text.huff);
  return result;
}

int MobiOperator::ProcessMetaInfo() {
  const ByteReader zero = records->Record(TextSection().header);
  const auto fields = ReadMobiHeader(zero);
  record0->textEncoding = fields ? fields->textEncoding : 0;
  record0->title = FullName(zero);
  ExthFields exth = ReadExth(zero);
  record0->author = std::move(exth.author);
  facts = std::move(exth.facts);
  exthStart = exth.startPosition;
  // Fixed-layout books made from an OPF may state their layout only there.
  for (const ByteReader &resource : Kf8ResourceRecords(records->All(), sections))
    AddRescFacts(resource, facts);
  dictionary = dictionary || exth.dictionary;
  coverRecord.reset();
  if (exth.coverOffset == ExthFields::kNone)
    return MOBI_OK;
  const std::uint64_t coverIndex = std::uint64_t{record0->firstImageRecord} + exth.coverOffset;
  if (coverIndex > INT32_MAX)
    return MOBI_OK;
  const int result = GenImage(static_cast<std::int32_t>(coverIndex), imageNames.front());
  if (result == MOBI_OK && !imageNames.front().empty())
    coverRecord = static_cast<std::uint32_t>(coverIndex);
  return result == kNoImage ? MOBI_OK : result;
}

namespace {

// The book's table of contents from the NCX index of `section`; none when it
// has no NCX or the index does not check out.
std::vector<NcxEntry> BookNcx(const BookRecords &records, const BookSection &section) {
  const auto header = ReadMobiHeader(records.Record(section.header));
  const auto first = header ? section.Record(header->ncxIndex) : std::nullopt;
  const auto table = first ? ReadIndex(records.All(), *first) : std::nullopt;
  return table ? ReadNcx(*table) : std::vector<NcxEntry>();
}

} // namespace

int MobiOperator::ProcessTextRecord(const char *path) {
  std::string text;
  if (int result = DecodeTextRecords(*records, textLayout, huff.get(), text))
    return result;
  // The contents' places are anchored like filepos targets.
  const std::vector<NcxEntry> ncx = BookNcx(*records, TextSection());
  std::vector<FileposAnchor> anchors = CollectFileposTargets(text);
  AddFileposTargets(anchors, ContentsPositions(ncx), text.size());
  if (const auto start = ReadingStartPosition(text, exthStart)) {
    AddFileposTargets(anchors, {*start}, text.size());
    facts.insert_or_assign("start", "filepos" + std::to_string(*start));
  }
  if (dictionary)
    facts.insert_or_assign("dictionary", "true");
  return WriteBookHtml(path, text, anchors,
                       {record0->textEncoding == 1252, ContentsNav(FileposContents(ncx))});
}

int MobiOperator::ProcessKf8Rendition(const std::string &path) {
  Kf8Unpacked unpacked;
  const int result = UnpackKf8Rendition(*records, sections,
                                        {path, outputFolder + "/" + bookStem + "_files/", bookStem,
                                         record0->title.value_or(std::string())},
                                        unpacked);
  if (!unpacked.coverName.empty())
    imageNames.front() = unpacked.coverName;
  if (!unpacked.startId.empty())
    facts.insert_or_assign("start", unpacked.startId);
  NoteCoverCopies(unpacked.coverCopies);
  return result;
}

int MobiOperator::ProcessImageRecord() {
  const std::uint32_t first = record0->firstImageRecord;
  if (first == 0)
    return MOBI_OK;
  // Entry N belongs to image number N whether or not its record was written,
  // so every recindex finds its own picture. The walk ends with the section.
  const std::uint32_t end = std::min<std::uint32_t>(TextSection().end, INT32_MAX);
  std::vector<std::string> coverCopies;
  for (std::uint32_t index = first; index < end; ++index) {
    std::string name;
    const int result = GenImage(static_cast<std::int32_t>(index), name);
    if (result != MOBI_OK && result != kNoImage)
      return result;
    if (!name.empty() && coverRecord && index != *coverRecord &&
        std::ranges::equal(records->Record(index).Bytes(), records->Record(*coverRecord).Bytes()))
      coverCopies.push_back(name);
    imageNames.push_back(std::move(name));
  }
  NoteCoverCopies(coverCopies);
  return MOBI_OK;
}

void MobiOperator::NoteCoverCopies(const std::vector<std::string> &names) {
  std::string joined;
  for (const std::string &name : names)
    joined += (joined.empty() ? "" : "\n") + name;
  if (joined.empty())
    facts.erase("cover-copies");
  else
    facts.insert_or_assign("cover-copies", joined);
}

int MobiOperator::GenImage(std::int32_t index, std::string &name) {
  if (index < 0 || !TextSection().Holds(static_cast<std::uint32_t>(index)))
    return kNoImage;
  const std::int64_t number = std::int64_t{index} - record0->firstImageRecord + 1;
  if (number < 1)
    return kNoImage;
  std::string fileName;
  if (int result = WritePictureFile(
          outputFolder + "/" + bookStem + "_files/", static_cast<std::uint64_t>(number),
          records->Record(static_cast<std::uint32_t>(index)).Bytes(), fileName))
    return result;
  if (fileName.empty())
    return kNoImage;
  name = bookStem + "_files/" + fileName;
  return MOBI_OK;
}
