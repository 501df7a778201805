// The index reader and its decoders over small indexes made by the test
// writer: what a sound index yields, and that damage yields nothing.
#include "index/book_index.h"

#include <gtest/gtest.h>

#include "index_writer.h"

namespace {

using testbook::Bytes;
using testbook::IndexSpec;

struct Records {
  std::vector<Bytes> bytes;
  std::vector<ByteReader> views;
  explicit Records(std::vector<Bytes> records) : bytes(std::move(records)) {
    for (const Bytes &record : bytes)
      views.emplace_back(record);
  }
  std::optional<IndexTable> Read(std::uint32_t first = 0) const { return ReadIndex(views, first); }
};

// Three entries over two data records: a chapter with a section, and a second
// chapter; labels in CNCX, one with an entity.
IndexSpec SampleNcx() {
  testbook::Cncx strings;
  IndexSpec spec{testbook::NcxTagRows()};
  spec.entries = {
      {"0",
       {{1, {120}},
        {3, {strings.Add("One &amp; only")}},
        {4, {0}},
        {6, {2, 0x30}},
        {22, {1}},
        {23, {1}}}},
      {"1", {{1, {480}}, {3, {strings.Add("Section")}}, {4, {1}}, {21, {0}}}},
      {"2", {{1, {200000}}, {3, {strings.Add("Two")}}, {4, {0}}}},
  };
  spec.cncxRecords = strings.Records();
  spec.entriesPerRecord = 2;
  return spec;
}

TEST(IndexReader, ReadsEntriesAcrossDataRecordsAndDecodesTheNcx) {
  const Records records(testbook::BuildIndex(SampleNcx()));
  ASSERT_EQ(records.bytes.size(), 4u); // primary, two data records, one CNCX record
  const auto table = records.Read();
  ASSERT_TRUE(table);
  const std::vector<NcxEntry> ncx = ReadNcx(*table);
  ASSERT_EQ(ncx.size(), 3u);
  EXPECT_EQ(ncx[0].label, "One & only");
  EXPECT_EQ(ncx[0].position, 120u);
  EXPECT_EQ(ncx[0].fid, 2u);
  EXPECT_EQ(ncx[0].offset, 0x30u);
  EXPECT_FALSE(ncx[0].parent);
  EXPECT_EQ(ncx[1].label, "Section");
  EXPECT_EQ(ncx[1].depth, 1u);
  EXPECT_EQ(ncx[1].parent, 0u);
  EXPECT_FALSE(ncx[1].fid);
  EXPECT_EQ(ncx[2].position, 200000u); // a three-byte VWI
}

TEST(IndexReader, DecodesSkeletonFragmentAndGuideTables) {
  // SKEL as KindleGen writes it: the count twice (mask 3), two ranges (mask 12).
  IndexSpec skel{{{1, 1, 0x03, 0}, {6, 2, 0x0C, 0}, {0, 0, 0, 1}}};
  skel.entries = {{"SKEL0000000000", {{1, {2, 2}}, {6, {0, 310, 0, 310}}}},
                  {"SKEL0000000001", {{1, {0, 0}}, {6, {900, 44, 900, 44}}}}};
  const Records skelRecords(testbook::BuildIndex(skel));
  const auto skeletons = ReadSkeletons(*skelRecords.Read());
  ASSERT_EQ(skeletons.size(), 2u);
  EXPECT_EQ(skeletons[0].fragmentCount, 2u);
  EXPECT_EQ(skeletons[0].length, 310u);
  EXPECT_EQ(skeletons[1].start, 900u);

  testbook::Cncx strings;
  IndexSpec frag{
      {{2, 1, 0x01, 0}, {3, 1, 0x02, 0}, {4, 1, 0x04, 0}, {6, 2, 0x08, 0}, {0, 0, 0, 1}}};
  frag.entries = {
      {"0000000150", {{2, {strings.Add("P-//*[@aid='0K']")}}, {3, {0}}, {4, {0}}, {6, {0, 77}}}},
      {"00000x0400", {{3, {0}}, {4, {1}}, {6, {77, 9}}}}, // not a number: left out
      {"0000000400", {{3, {1}}, {4, {2}}, {6, {0, 12}}}}};
  frag.cncxRecords = strings.Records();
  const Records fragRecords(testbook::BuildIndex(frag));
  const auto fragments = ReadFragments(*fragRecords.Read());
  ASSERT_EQ(fragments.size(), 2u);
  EXPECT_EQ(fragments[0].insertPosition, 150u);
  EXPECT_EQ(fragments[0].selector, "P-//*[@aid='0K']");
  EXPECT_EQ(fragments[0].length, 77u);
  EXPECT_EQ(fragments[1].selector, "");
  EXPECT_EQ(fragments[1].sequence, 2u);

  testbook::Cncx titles;
  IndexSpec guide{{{1, 1, 0x01, 0}, {3, 1, 0x02, 0}, {6, 2, 0x04, 0}, {0, 0, 0, 1}}};
  guide.encoding = 1252;
  guide.entries = {{"toc", {{1, {titles.Add("Inhalt \xFC")}}, {6, {3, 0}}}},
                   {"thumbimagestandard", {{3, {0}}}},
                   {"text", {{3, {4}}}}};
  guide.cncxRecords = titles.Records();
  const Records guideRecords(testbook::BuildIndex(guide));
  const auto references = ReadGuide(*guideRecords.Read());
  ASSERT_EQ(references.size(), 2u);
  EXPECT_EQ(references[0].title, "Inhalt \xC3\xBC"); // Windows-1252 to UTF-8
  EXPECT_EQ(references[0].fid, 3u);
  EXPECT_EQ(references[1].type, "text");
  EXPECT_EQ(references[1].fid, 4u); // the older form: tag 3 alone
  EXPECT_FALSE(references[1].offset);
}

TEST(IndexReader, ReadsTheByteCountFormAndASecondControlByte) {
  // Mask 3 with three values cannot count them in the mask: a byte count says
  // how far they run. Tag 9 sits in the second control byte.
  IndexSpec spec{{{5, 1, 0x03, 0}, {7, 1, 0x04, 0}, {0, 0, 0, 1}, {9, 1, 0x01, 0}, {0, 0, 0, 1}}};
  spec.entries = {{"a", {{5, {1, 300, 70000}}, {7, {8}}, {9, {42}}}}};
  const Records records(testbook::BuildIndex(spec));
  const auto table = records.Read();
  ASSERT_TRUE(table);
  const IndexEntry &entry = table->entries.at(0);
  EXPECT_EQ(entry.label, "a");
  EXPECT_EQ(*entry.Tag(5), (std::vector<std::uint32_t>{1, 300, 70000}));
  EXPECT_EQ(entry.First(7), 8u);
  EXPECT_EQ(entry.First(9), 42u);
}

TEST(IndexReader, RefusesIndexesThatDoNotCheckOut) {
  const std::vector<Bytes> good = testbook::BuildIndex(SampleNcx());
  auto damaged = [&](auto change) {
    std::vector<Bytes> records = good;
    change(records);
    return Records(std::move(records)).Read().has_value();
  };
  EXPECT_FALSE(damaged([](auto &r) { r[0][0] = 'X'; }));                      // magic
  EXPECT_FALSE(
      damaged([](auto &r) { testbook::PutU32BE(r[0], 24, 3); })); // data records past the book
  EXPECT_FALSE(damaged([](auto &r) { testbook::PutU32BE(r[0], 36, 4); }));    // entry total
  EXPECT_FALSE(
      damaged([](auto &r) { testbook::PutU32BE(r[0], 192 + 8, 2); })); // control bytes vs end flags
  EXPECT_FALSE(damaged(
      [](auto &r) { testbook::PutU32BE(r[0], 192 + 4, 9); })); // TAGX shorter than its header
  EXPECT_FALSE(
      damaged([](auto &r) { testbook::PutU32BE(r[1], 24, 40000); })); // IDXT past the record
  EXPECT_FALSE(damaged([](auto &r) {                                  // entries out of order
    const std::size_t idxt = (std::size_t{r[1][22]} << 8) | r[1][23];
    std::swap(r[1][idxt + 4], r[1][idxt + 6]);
    std::swap(r[1][idxt + 5], r[1][idxt + 7]);
  }));
  EXPECT_FALSE(damaged(
      [](auto &r) { r[1][194] = 0xFF; })); // control byte asks for more values than the entry holds
  EXPECT_EQ(Records(good).Read(1), std::nullopt); // a data record is no primary record
  EXPECT_EQ(Records(good).Read(9), std::nullopt);
}

TEST(IndexReader, SurvivesEveryTruncationAndByteFlip) {
  const std::vector<Bytes> good = testbook::BuildIndex(SampleNcx());
  for (std::size_t r = 0; r < good.size(); ++r)
    for (std::size_t at = 0; at < good[r].size(); ++at) {
      std::vector<Bytes> cut = good;
      cut[r].resize(at);
      if (const auto table = Records(cut).Read())
        ReadNcx(*table);
      std::vector<Bytes> flipped = good;
      flipped[r][at] ^= 0xA5;
      if (const auto table = Records(flipped).Read()) {
        for (const NcxEntry &entry : ReadNcx(*table))
          EXPECT_LE(entry.label.size(), 3 * good.back().size());
      }
    }
}

TEST(IndexReader, ReadsCncxStringsOnlyInsideTheirRecord) {
  testbook::Cncx strings;
  const std::uint32_t first = strings.Add("first");
  std::uint32_t last = first;
  for (int i = 0; i < 7000; ++i) // past 64 KiB: a second record
    last = strings.Add("string " + std::to_string(i));
  IndexTable table;
  const std::vector<Bytes> records = strings.Records();
  ASSERT_EQ(records.size(), 2u);
  for (const Bytes &record : records)
    table.cncx.emplace_back(record);
  EXPECT_EQ(table.CncxString(first), "first");
  EXPECT_EQ(last >> 16, 1u);
  EXPECT_EQ(table.CncxString(last), "string 6999");
  EXPECT_EQ(table.CncxString(2u << 16), std::nullopt); // no such record
  EXPECT_EQ(table.CncxString(static_cast<std::uint32_t>(records[0].size())),
            std::nullopt); // past record 0's end
  EXPECT_EQ(table.CncxString(last + 1),
            std::nullopt); // inside a string: its length runs past the record
}

} // namespace
