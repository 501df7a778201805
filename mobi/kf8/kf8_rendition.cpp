#include "kf8/kf8_rendition.h"

#include "common/c_file.h"
#include "index/index_reader.h"
#include "kf8/kf8_html.h"
#include "kf8/kf8_links.h"
#include "kf8/kf8_styles.h"
#include "container/exth_header.h"
#include "tarn_mobi.h"
#include "decoding/text_record.h"

namespace {

constexpr std::size_t kMobiHeaderStart = 16;
constexpr std::size_t kMobiHeaderLength = 0x14;
constexpr std::size_t kTextEncoding = 0x1C;
constexpr std::size_t kFdstIndex = 0xC0;
constexpr std::size_t kFdstCount = 0xC4;
constexpr std::size_t kNcxIndex = 0xF4;
constexpr std::size_t kFragmentIndex = 0xF8;
constexpr std::size_t kSkeletonIndex = 0xFC;
constexpr std::size_t kGuideIndex = 0x104;
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The header field at `offset`, when it lies inside the MOBI header.
std::optional<std::uint32_t> HeaderField(const ByteReader &header, std::size_t offset) {
  const std::uint64_t headerEnd = kMobiHeaderStart + std::uint64_t{header.U32BE(kMobiHeaderLength).value_or(0)};
  if (headerEnd < offset + 4)
    return std::nullopt;
  return header.U32BE(offset);
}

// The absolute record a header field names (relative to the header record),
// when it names one that exists.
std::optional<std::uint32_t> RecordField(std::span<const ByteReader> records, std::uint32_t kf8Header,
                                         std::size_t offset) {
  const auto value = HeaderField(records[kf8Header], offset);
  if (!value || *value == kNone || *value >= records.size() - kf8Header)
    return std::nullopt;
  return kf8Header + *value;
}

std::optional<IndexTable> IndexAt(std::span<const ByteReader> records, std::uint32_t kf8Header,
                                  std::size_t offset) {
  const auto record = RecordField(records, kf8Header, offset);
  return record ? ReadIndex(records, *record) : std::nullopt;
}

bool NamesReadingStart(const GuideEntry &entry) {
  return entry.type == "text" || entry.type == "start";
}

// Where reading starts: the guide's "text" (or "start") entry, else EXTH 116
// of `header`. Only a place inside flow 0 counts.
std::optional<std::uint64_t> ReadingStart(const Kf8Text &book, const ByteReader &header) {
  const std::size_t textEnd = book.flows[0].text.size();
  const auto inText = [textEnd](std::optional<std::uint64_t> position) {
    return position && *position < textEnd;
  };
  for (const GuideEntry &entry : book.guide) {
    if (!NamesReadingStart(entry) || !entry.fid)
      continue;
    const auto position = FragmentPosition(book.fragments, *entry.fid, entry.offset.value_or(0));
    if (inText(position))
      return position;
  }
  const std::optional<std::uint64_t> start = ReadExth(header).startPosition;
  return inText(start) ? start : std::nullopt;
}

} // namespace

std::unique_ptr<Kf8Text> ReadKf8Text(std::span<const ByteReader> records, std::uint32_t kf8Header,
                                   std::string text) {
  if (kf8Header >= records.size())
    return nullptr;
  auto owner = std::make_unique<Kf8Text>();
  Kf8Text &book = *owner;
  book.text = std::move(text);
  const auto fdst = RecordField(records, kf8Header, kFdstIndex);
  const std::uint32_t flowCount = fdst ? HeaderField(records[kf8Header], kFdstCount).value_or(0) : 0;
  auto flows = SplitFlows(book.text, fdst ? records[*fdst] : ByteReader(), flowCount);
  const auto skeletonTable = IndexAt(records, kf8Header, kSkeletonIndex);
  if (!flows || !skeletonTable)
    return nullptr;
  book.flows = std::move(*flows);
  const std::vector<SkeletonEntry> skeletons = ReadSkeletons(*skeletonTable);
  if (const auto fragmentTable = IndexAt(records, kf8Header, kFragmentIndex))
    book.fragments = ReadFragments(*fragmentTable);
  auto parts = AssembleParts(book.flows[0].text, skeletons, book.fragments);
  if (!parts || parts->empty())
    return nullptr;
  book.parts = std::move(*parts);
  if (const auto ncx = IndexAt(records, kf8Header, kNcxIndex))
    book.contents = ReadNcx(*ncx);
  if (const auto guide = IndexAt(records, kf8Header, kGuideIndex))
    book.guide = ReadGuide(*guide);
  book.startPosition = ReadingStart(book, records[kf8Header]);
  return owner;
}

int UnpackKf8Rendition(const BookRecords &records, const BookSections &sections,
                       const Kf8Output &output, Kf8Unpacked &unpacked) {
  if (!sections.kf8)
    return MOBI_ERR_KF8;
  std::string text;
  if (int result = DecodeSectionText(records, *sections.kf8, text))
    return result;
  const std::unique_ptr<Kf8Text> book = ReadKf8Text(records.All(), sections.kf8->header, std::move(text));
  if (!book)
    return MOBI_ERR_KF8;
  Kf8Resources resources;
  if (int result =
          WriteKf8Resources(Kf8ResourceRecords(records.All(), sections), output.resourceFolder,
                            output.bookStem, Kf8CoverOffset(records.All(), sections), resources))
    return result;
  unpacked.coverName = resources.Name(0);
  unpacked.coverCopies = resources.coverCopies;
  CFile out(std::fopen(output.htmlPath.c_str(), "wb"));
  if (!out)
    return MOBI_ERR_OPEN;
  const bool windows1252 = records.Record(sections.kf8->header).U32BE(kTextEncoding) == 1252;
  const Kf8Document document{book->parts,    book->flows, book->fragments,
                             book->contents, book->guide, book->startPosition,
                             output.title,   resources,   windows1252};
  const bool written = WriteKf8Html(out.get(), document, unpacked.startId);
  if (std::fclose(out.release()) != 0 || !written)
    return MOBI_ERR_WRITE;
  return MOBI_OK;
}
