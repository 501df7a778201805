#include "kf8/kf8_rendition.h"

#include "common/c_file.h"
#include "index/index_reader.h"
#include "kf8/kf8_html.h"
#include "kf8/kf8_links.h"
#include "kf8/kf8_styles.h"
#include "container/exth_header.h"
#include "container/mobi_header.h"
#include "tarn_mobi.h"
#include "decoding/text_record.h"

namespace {

// The index table that a header's index field names, when it names one.
std::optional<IndexTable> IndexAt(std::span<const ByteReader> records, const BookSection &kf8,
                                  std::uint32_t index) {
  const auto record = kf8.Record(index);
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
  const auto header =
      kf8Header < records.size() ? ReadMobiHeader(records[kf8Header]) : std::nullopt;
  if (!header)
    return nullptr;
  auto owner = std::make_unique<Kf8Text>();
  Kf8Text &book = *owner;
  book.text = std::move(text);
  // Every record after the header may belong to the KF8 rendition.
  const BookSection kf8{kf8Header, static_cast<std::uint32_t>(records.size())};
  const auto fdst = kf8.Record(header->fdstIndex);
  const std::uint32_t flowCount = fdst ? header->fdstCount : 0;
  auto flows = SplitFlows(book.text, fdst ? records[*fdst] : ByteReader(), flowCount);
  const auto skeletonTable = IndexAt(records, kf8, header->skeletonIndex);
  if (!flows || !skeletonTable)
    return nullptr;
  book.flows = std::move(*flows);
  const std::vector<SkeletonEntry> skeletons = ReadSkeletons(*skeletonTable);
  if (const auto fragmentTable = IndexAt(records, kf8, header->fragmentIndex))
    book.fragments = ReadFragments(*fragmentTable);
  auto parts = AssembleParts(book.flows[0].text, skeletons, book.fragments);
  if (!parts || parts->empty())
    return nullptr;
  book.parts = std::move(*parts);
  if (const auto ncx = IndexAt(records, kf8, header->ncxIndex))
    book.contents = ReadNcx(*ncx);
  if (const auto guide = IndexAt(records, kf8, header->guideIndex))
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
  const std::unique_ptr<Kf8Text> book =
      ReadKf8Text(records.All(), sections.kf8->header, std::move(text));
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
  const auto header = ReadMobiHeader(records.Record(sections.kf8->header));
  const bool windows1252 = header && header->textEncoding == 1252;
  const Kf8Document document{book->parts,    book->flows, book->fragments,
                             book->contents, book->guide, book->startPosition,
                             output.title,   resources,   windows1252};
  const bool written = WriteKf8Html(out.get(), document, unpacked.startId);
  if (std::fclose(out.release()) != 0 || !written)
    return MOBI_ERR_WRITE;
  return MOBI_OK;
}
