#include "kf8_writer.h"

#include <cstdio>

#include "index_writer.h"
#include "text_encoder.h"

namespace testbook {

namespace {

constexpr std::uint32_t kNoIndex = 0xFFFFFFFF;

std::string Decimal(std::uint32_t value) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%010u", value);
  return digits;
}

// An index of `rows` with the entries, and their CNCX strings, that `fill` adds.
template <typename Fill>
std::vector<Bytes> Index(const Kf8Book &book, std::vector<TagRow> rows, Fill fill) {
  IndexSpec spec(std::move(rows));
  spec.entriesPerRecord = book.entriesPerIndexRecord;
  Cncx strings;
  fill(spec.entries, strings);
  spec.cncxRecords = strings.Records();
  return BuildIndex(spec);
}

std::vector<Bytes> SkeletonIndex(const Kf8Book &book) {
  // Fragment count twice, and the skeleton's range twice, as KindleGen writes them.
  return Index(book, {{1, 1, 0x03, 0}, {6, 2, 0x0C, 0}, {0, 0, 0, 1}}, [&](auto &entries, Cncx &) {
    for (std::size_t i = 0; i < book.flow0.skeletons.size(); ++i) {
      const SkeletonEntry &s = book.flow0.skeletons[i];
      entries.push_back(
          {"SKEL" + Decimal(static_cast<std::uint32_t>(i)),
           {{1, {s.fragmentCount, s.fragmentCount}}, {6, {s.start, s.length, s.start, s.length}}}});
    }
  });
}

std::vector<Bytes> FragmentIndex(const Kf8Book &book) {
  return Index(book,
               {{2, 1, 0x01, 0}, {3, 1, 0x02, 0}, {4, 1, 0x04, 0}, {6, 2, 0x08, 0}, {0, 0, 0, 1}},
               [&](auto &entries, Cncx &strings) {
                 for (const FragmentEntry &f : book.flow0.fragments)
                   entries.push_back({Decimal(f.insertPosition),
                                      {{2, {strings.Add(f.selector)}},
                                       {3, {f.fileNumber}},
                                       {4, {f.sequence}},
                                       {6, {f.dataOffset, f.length}}}});
               });
}

std::vector<Bytes> ContentsIndex(const Kf8Book &book) {
  return Index(book, NcxTagRows(), [&](auto &entries, Cncx &strings) {
    for (std::size_t i = 0; i < book.contents.size(); ++i) {
      const Kf8ContentsEntry &c = book.contents[i];
      const auto [fid, offset] = book.flow0.FidOffset(c.position);
      IndexEntrySpec entry{
          Decimal(static_cast<std::uint32_t>(i)),
          {{1, {c.position}}, {3, {strings.Add(c.label)}}, {4, {c.depth}}, {6, {fid, offset}}}};
      if (c.parent)
        entry.tags.push_back({21, {*c.parent}});
      entries.push_back(std::move(entry));
    }
  });
}

std::vector<Bytes> GuideIndex(const Kf8Book &book) {
  return Index(book, {{1, 1, 0x01, 0}, {6, 2, 0x02, 0}, {0, 0, 0, 1}},
               [&](auto &entries, Cncx &strings) {
                 for (const Kf8GuideEntry &g : book.guide) {
                   const auto [fid, offset] = book.flow0.FidOffset(g.position);
                   entries.push_back({g.type, {{1, {strings.Add(g.title)}}, {6, {fid, offset}}}});
                 }
               });
}

// Appends `records` to the book's tail; the index of the first, counted from the header.
std::uint32_t AppendTail(BookSpec &spec, const std::vector<Bytes> &records) {
  const auto first =
      static_cast<std::uint32_t>(1 + spec.textRecords.size() + spec.imageRecords.size() +
                                 spec.huffRecords.size() + spec.tailRecords.size());
  spec.tailRecords.insert(spec.tailRecords.end(), records.begin(), records.end());
  return first;
}

} // namespace

Bytes FdstRecord(const std::vector<std::pair<std::uint32_t, std::uint32_t>> &ranges,
                 std::uint32_t count) {
  Bytes record = ToBytes("FDST");
  AppendU32BE(record, 12);
  AppendU32BE(record, count);
  for (const auto &[start, end] : ranges) {
    AppendU32BE(record, start);
    AppendU32BE(record, end);
  }
  return record;
}

BookSpec Kf8BookSpec(const Kf8Book &book) {
  std::string text = book.flow0.flow0;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges{
      {0, static_cast<std::uint32_t>(text.size())}};
  for (const std::string &flow : book.flows) {
    ranges.emplace_back(static_cast<std::uint32_t>(text.size()),
                        static_cast<std::uint32_t>(text.size() + flow.size()));
    text += flow;
  }
  BookSpec spec = TextBook(text, book.compression, book.extraDataFlags);
  spec.fileVersion = 8;
  spec.mobiHeaderLength = 264;
  spec.exth = book.exth;
  spec.imageRecords = book.resources;
  const std::vector<Bytes> endOfFile = std::move(spec.tailRecords);
  spec.tailRecords.clear();
  spec.fdstIndex =
      AppendTail(spec, {FdstRecord(ranges, static_cast<std::uint32_t>(ranges.size()))});
  spec.fdstFlowCount = static_cast<std::uint32_t>(ranges.size());
  spec.skeletonIndex = AppendTail(spec, SkeletonIndex(book));
  spec.fragmentIndex = AppendTail(spec, FragmentIndex(book));
  if (!book.contents.empty())
    spec.ncxIndex = AppendTail(spec, ContentsIndex(book));
  if (!book.guide.empty())
    spec.guideIndex = AppendTail(spec, GuideIndex(book));
  AppendTail(spec, endOfFile);
  return spec;
}

HybridSpec Kf8HybridSpec(const Kf8Book &book, const std::string &mobi6Text) {
  Kf8Book withoutResources = book;
  withoutResources.resources.clear();
  HybridSpec hybrid;
  hybrid.mobi6.textRecords = SplitText(mobi6Text);
  hybrid.mobi6.imageRecords = book.resources;
  hybrid.kf8 = Kf8BookSpec(withoutResources);
  hybrid.kf8.firstImageRecord = kNoIndex;
  return hybrid;
}

} // namespace testbook
