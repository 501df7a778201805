#include "decoding/huff_decompressor.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>

#include "book_text.h"
#include "common/byte_reader.h"
#include "huff_encoder.h"
#include "mobi_writer.h"
#include "text_encoder.h"

namespace {

using testbook::BuildCdicRecord;
using testbook::BuildHuffRecord;
using testbook::Bytes;
using testbook::CdicEntry;
using testbook::ToBytes;
using CodeTable = testbook::HuffCodeTable;
using CodeRanges = testbook::HuffCodeRanges;

// Every byte of input is one 8-bit code, for dictionary index `top` - byte.
CodeTable ByteCodes(std::uint32_t top = 0xFF) {
  CodeTable table;
  table.fill(8 | 0x80 | top << 8);
  return table;
}

// The input byte that names index `index` under ByteCodes(top).
std::uint8_t Code(std::uint32_t index, std::uint32_t top = 0xFF) {
  return static_cast<std::uint8_t>(top - index);
}

CdicEntry Literal(const std::string &text) { return {true, ToBytes(text)}; }
CdicEntry Coded(Bytes codes) { return {false, std::move(codes)}; }

std::string Decode(HuffDecompressor &huff, const Bytes &record, std::uint32_t outSize = 4096) {
  std::string out(outSize, '\0');
  out.resize(huff.Decompress(record, out.data(), outSize));
  return out;
}

// A decoder over byte codes and one CDIC record of `entries`.
HuffDecompressor ByteCoded(const std::vector<CdicEntry> &entries, std::uint32_t flags = 0) {
  return HuffDecompressor(BuildHuffRecord(ByteCodes()), {BuildCdicRecord(entries)}, flags);
}

TEST(HuffDecompressor, IndexSelectsRecordByHighBitsAndEntryByLowBits) {
  HuffDecompressor one(BuildHuffRecord(ByteCodes()), {BuildCdicRecord({Literal("only")})}, 0);
  EXPECT_EQ(one.DictionaryRecordCount(), 1u);
  EXPECT_EQ(Decode(one, {Code(0)}), "only");

  std::vector<CdicEntry> second;
  for (int i = 0; i < 4; ++i)
    second.push_back(Literal("r1e" + std::to_string(i)));
  HuffDecompressor two(BuildHuffRecord(ByteCodes(0x1FF)),
                       {BuildCdicRecord({Literal("r0e0")}), BuildCdicRecord(second)}, 0);
  EXPECT_EQ(two.DictionaryRecordCount(), 2u);
  EXPECT_EQ(two.CdicBits(), 8u);
  EXPECT_EQ(Decode(two, {Code(0x103, 0x1FF), Code(0x100, 0x1FF)}), "r1e3r1e0");
  EXPECT_FALSE(two.Error());
}

TEST(HuffDecompressor, TerminalEntryGivesLengthAndHighestCode) {
  CodeTable table = ByteCodes();
  for (std::uint32_t b = 0xA0; b <= 0xBF; ++b)
    table[b] = 3 | 0x80 | 7 << 8; // all codes 101... are 3 bits long, highest 7
  HuffDecompressor huff(BuildHuffRecord(table),
                        {BuildCdicRecord({Literal("e0"), Literal("e1"), Literal("e2")})}, 0);
  // 101 (code 5: index 2), then 11111110 (index 1), then 5 bits too few for a code.
  EXPECT_EQ(Decode(huff, {0xBF, 0xC0}), "e2e1");
}

TEST(HuffDecompressor, NonTerminalCodesSearchTheRangesOneLengthAtATime) {
  CodeTable table = ByteCodes();
  table[0x00] = 9; // codes starting 00000000 are 9 or 10 bits long
  CodeRanges ranges{};
  ranges[2 * 8] = 1;     // 9 bits: only 000000001
  ranges[2 * 8 + 1] = 3; // index 3 - 1 = 2
  ranges[2 * 9] = 0;     // 10 bits: 0000000000 and 0000000001
  ranges[2 * 9 + 1] = 4; // indexes 4 and 3
  HuffDecompressor huff(
      BuildHuffRecord(table, ranges),
      {BuildCdicRecord({Literal("a"), Literal("b"), Literal("c"), Literal("d"), Literal("e")})}, 0);
  // 000000001 | 0000000001 | 0000000000 | 11111110, then zero padding
  EXPECT_EQ(Decode(huff, {0x00, 0x80, 0x20, 0x07, 0xF0}), "cdeb");
  EXPECT_FALSE(huff.Error());
}

TEST(HuffDecompressor, LiteralThatFillsTheSpaceExactlyIsWritten) {
  auto huff = ByteCoded({Literal("abcd"), Literal("e")});
  EXPECT_EQ(Decode(huff, {Code(0)}, 4), "abcd");
  EXPECT_EQ(Decode(huff, {Code(0), Code(1)}, 5), "abcde");
  EXPECT_EQ(Decode(huff, {Code(0)}, 3), "") << "one byte short: not written";
  EXPECT_EQ(Decode(huff, {Code(1), Code(0), Code(1)}, 4), "e") << "the record's level ends";
}

// Ending a level lets the level above go on with its next code, so a cut
// entry is not a prefix of its full text; kept expansions must not change that.
TEST(HuffDecompressor, NestedEntryIsCutLevelByLevel) {
  // Entry 1 is [entry 4, "x"]; entry 4 is ["abcd"].
  auto huff = ByteCoded(
      {Literal("abcd"), Coded({Code(4), Code(2)}), Literal("x"), Literal("yz"), Coded({Code(0)})});
  EXPECT_EQ(Decode(huff, {Code(1)}, 5), "abcdx");
  EXPECT_EQ(Decode(huff, {Code(1)}, 4), "abcd");
  EXPECT_EQ(Decode(huff, {Code(1)}, 3), "x") << "only the inner level ends";
  EXPECT_EQ(Decode(huff, {Code(1), Code(3)}, 6), "abcdx");
  EXPECT_EQ(Decode(huff, {Code(1), Code(3)}, 3), "xyz");
  EXPECT_EQ(Decode(huff, {Code(1), Code(1)}, 8), "abcdxx");
  // A literal straight inside the entry ends the entry's own level.
  auto flat = ByteCoded({Literal("abcd"), Coded({Code(0), Code(2)}), Literal("x")});
  EXPECT_EQ(Decode(flat, {Code(1)}, 3), "");
  EXPECT_EQ(Decode(flat, {Code(1), Code(2)}, 3), "x");
  EXPECT_FALSE(huff.Error());
}

// Entry k (1 to 40) is entry k - 1 followed by "b"; entry 0 is "a". Expanding
// entry k from a record reaches nesting depth k.
std::vector<CdicEntry> Chain() {
  std::vector<CdicEntry> entries{Literal("a")};
  for (std::uint32_t k = 1; k <= 40; ++k)
    entries.push_back(Coded({Code(k - 1), Code(50)}));
  while (entries.size() < 50)
    entries.push_back(Literal("-"));
  entries.push_back(Literal("b"));
  return entries;
}

TEST(HuffDecompressor, EntriesNestThirtyTwoLevelsDeep) {
  auto huff = ByteCoded(Chain());
  EXPECT_EQ(Decode(huff, {Code(32)}), "a" + std::string(32, 'b'));
  EXPECT_EQ(Decode(huff, {Code(5), Code(32), Code(5)}),
            "abbbbba" + std::string(32, 'b') + "abbbbb");
  EXPECT_FALSE(huff.Error());
}

TEST(HuffDecompressor, OneLevelMoreSetsTheErrorButTheOuterLevelsGoOn) {
  auto huff = ByteCoded(Chain());
  // The innermost expansion is dropped; the levels above still add their "b".
  EXPECT_EQ(Decode(huff, {Code(33), Code(32)}), std::string(32, 'b') + "a" + std::string(32, 'b'));
  EXPECT_TRUE(huff.Error());
  EXPECT_EQ(Decode(huff, {Code(0)}), "") << "later records yield nothing";

  auto reversed = ByteCoded(Chain());
  EXPECT_EQ(Decode(reversed, {Code(32), Code(33)}), "a" + std::string(64, 'b'));
  EXPECT_TRUE(reversed.Error());
}

TEST(HuffDecompressor, EntryThatContainsItselfEndsAtTheDepthLimit) {
  auto huff = ByteCoded({Coded({Code(0), Code(1)}), Literal("ok")});
  // Levels 1 to 32 each add their "ok" once the level below them has ended.
  std::string expected;
  for (int level = 1; level <= 32; ++level)
    expected += "ok";
  EXPECT_EQ(Decode(huff, {Code(0)}), expected);
  EXPECT_TRUE(huff.Error());
}

TEST(HuffDecompressor, EntriesThatMultiplyWithoutEndStopWithTheError) {
  // Entry k holds sixteen copies of entry k - 1: far more text than any space.
  std::vector<CdicEntry> entries{Literal("zz")};
  for (std::uint32_t k = 1; k <= 30; ++k)
    entries.push_back(Coded(Bytes(16, Code(k - 1))));
  auto huff = ByteCoded(entries);
  EXPECT_EQ(Decode(huff, {Code(30), Code(0)}), std::string(4096, 'z'));
  EXPECT_TRUE(huff.Error());
}

TEST(HuffDecompressor, WorkOfARecordIsBoundedByItsLength) {
  // Entry 5 expands to 2 MiB; finishing it once the space is full takes some
  // 135,000 codes, far more than a one-byte record may spend. Without a bound
  // per byte, a book of many such records would take hours.
  std::vector<CdicEntry> entries{Literal("zz")};
  for (std::uint32_t k = 1; k <= 5; ++k)
    entries.push_back(Coded(Bytes(16, Code(k - 1))));
  auto huff = ByteCoded(entries);
  EXPECT_EQ(Decode(huff, {Code(5)}), std::string(4096, 'z'));
  EXPECT_TRUE(huff.Error());

  auto three = ByteCoded(entries);
  EXPECT_EQ(Decode(three, {Code(3)}), std::string(4096, 'z'));
  EXPECT_FALSE(three.Error()) << "some 300 codes fit the budget of a one-byte record";

  // A longer record may spend more.
  auto longer = ByteCoded(entries);
  Bytes record(2200, Code(0));
  record.front() = Code(5);
  EXPECT_EQ(Decode(longer, record), std::string(4096, 'z'));
  EXPECT_FALSE(longer.Error());
}

TEST(HuffDecompressor, TrailingEntriesAreStrippedAndCoveringTheRecordIsAnError) {
  auto huff = ByteCoded({Literal("a"), Literal("b")}, 0x0003);
  // text, multibyte count byte 0 (one byte), entry of size 1
  EXPECT_EQ(Decode(huff, {Code(0), Code(1), 0xFC, 0x81}), "ab");
  EXPECT_FALSE(huff.Error());
  EXPECT_EQ(Decode(huff, {Code(0), 0x85}), "");
  EXPECT_TRUE(huff.Error());
  EXPECT_EQ(Decode(huff, {Code(0), Code(1), 0xFC, 0x81}), "");
}

TEST(HuffDecompressor, NothingToDecodeIsNotAnError) {
  auto huff = ByteCoded({Literal("a")});
  EXPECT_EQ(Decode(huff, {}), "");
  EXPECT_EQ(huff.Decompress(Bytes{Code(0)}, nullptr, 16), 0u);
  EXPECT_FALSE(huff.Error());
  EXPECT_EQ(Decode(huff, {Code(0)}), "a");
}

// Each kind of broken data ends the record at once, keeps the text before it
// and fails every later record.
void ExpectBrokenAfterText(HuffDecompressor &huff, const Bytes &record, const std::string &before) {
  EXPECT_EQ(Decode(huff, record), before);
  EXPECT_TRUE(huff.Error());
  EXPECT_EQ(Decode(huff, {Code(0)}), "");
}

TEST(HuffDecompressor, BrokenCodesEndTheRecord) {
  const std::vector<Bytes> dictionary{BuildCdicRecord({Literal("a"), Literal("b")})};
  {
    CodeTable table = ByteCodes();
    table[0x10] = 0x80 | 5 << 8; // length 0
    HuffDecompressor huff(BuildHuffRecord(table), dictionary, 0);
    SCOPED_TRACE("code length 0");
    ExpectBrokenAfterText(huff, {Code(0), 0x10, Code(1)}, "a");
  }
  {
    CodeTable table = ByteCodes();
    table[0x10] = 30; // the search never finds a length
    CodeRanges ranges;
    ranges.fill(0xFFFFFFFF);
    HuffDecompressor huff(BuildHuffRecord(table, ranges), dictionary, 0);
    SCOPED_TRACE("search past 32 bits");
    ExpectBrokenAfterText(huff, {Code(0), 0x10, Code(1)}, "a");
  }
}

TEST(HuffDecompressor, IndexesOutsideTheDictionaryEndTheRecord) {
  {
    HuffDecompressor huff(BuildHuffRecord(ByteCodes()),
                          {BuildCdicRecord({Literal("a"), Literal("b")}, 1)}, 0);
    SCOPED_TRACE("record number past the CDIC records");
    ExpectBrokenAfterText(huff, {Code(1), Code(2)}, "b");
  }
  {
    HuffDecompressor huff(BuildHuffRecord(ByteCodes()),
                          {BuildCdicRecord({Literal("a"), Literal("b")}, 8)}, 0);
    SCOPED_TRACE("entry number past the record's offsets");
    ExpectBrokenAfterText(huff, {Code(0), Code(200)}, "a");
  }
  {
    Bytes cdic = BuildCdicRecord({Literal("a"), Literal("b")});
    testbook::PutU16BE(cdic, 18, 0xFFF0);
    HuffDecompressor huff(BuildHuffRecord(ByteCodes()), {cdic}, 0);
    SCOPED_TRACE("entry offset past the record");
    ExpectBrokenAfterText(huff, {Code(0), Code(1)}, "a");
  }
  {
    Bytes cdic = BuildCdicRecord({Literal("a"), Literal("b")});
    cdic.pop_back(); // entry 1 claims one byte more than the record holds
    HuffDecompressor huff(BuildHuffRecord(ByteCodes()), {cdic}, 0);
    SCOPED_TRACE("entry length past the record");
    ExpectBrokenAfterText(huff, {Code(0), Code(1)}, "a");
  }
  {
    auto huff = ByteCoded({Literal("a"), Coded({Code(0), Code(9)})});
    SCOPED_TRACE("inside a coded entry");
    ExpectBrokenAfterText(huff, {Code(0), Code(1)}, "aa");
  }
}

TEST(HuffDecompressor, UnusableTablesOrDictionaryFailFromTheStart) {
  const Bytes dictionary = BuildCdicRecord({Literal("a")});
  HuffDecompressor bits32(BuildHuffRecord(ByteCodes()), {BuildCdicRecord({Literal("a")}, 32)}, 0);
  HuffDecompressor noDictionary(BuildHuffRecord(ByteCodes()), {}, 0);
  Bytes shortHuff = BuildHuffRecord(ByteCodes());
  shortHuff.resize(1000);
  HuffDecompressor tablesCut(shortHuff, {dictionary}, 0);
  Bytes farTables = BuildHuffRecord(ByteCodes());
  testbook::PutU32BE(farTables, 16, 0xFFFFFFF0);
  HuffDecompressor tablesOutside(farTables, {dictionary}, 0);
  HuffDecompressor cdicHeaderCut(BuildHuffRecord(ByteCodes()), {Bytes{'C', 'D', 'I', 'C', 0, 0}},
                                 0);
  for (HuffDecompressor *huff :
       {&bits32, &noDictionary, &tablesCut, &tablesOutside, &cdicHeaderCut}) {
    EXPECT_TRUE(huff->Error());
    EXPECT_EQ(Decode(*huff, {Code(0)}), "");
  }
}

// The plain recursive algorithm, expanding every coded entry afresh, for
// valid dictionaries only: the decoder's kept expansions must give the same
// bytes for every size of output space.
class PlainDecoder {
public:
  explicit PlainDecoder(const std::vector<Bytes> &records)
      : dictionary_(records.begin() + 1, records.end()) {
    const ByteReader huff(records.front());
    for (std::size_t i = 0; i < 256; ++i)
      table_[i] = *huff.U32LE(*huff.U32BE(16) + 4 * i);
    for (std::size_t i = 0; i < 64; ++i)
      ranges_[i] = *huff.U32LE(*huff.U32BE(20) + 4 * i);
    bits_ = *ByteReader(dictionary_.front()).U32BE(12);
  }

  std::string Decode(const Bytes &bits, std::size_t space) {
    out_.clear();
    space_ = space;
    Level(bits, 0);
    return out_;
  }

private:
  void Level(std::span<const std::uint8_t> bits, std::uint32_t depth) {
    if (depth > 32)
      return;
    BitReader reader(bits);
    while (reader.Left() != 0) {
      const std::uint32_t x = reader.Peek32();
      const std::uint32_t entry = table_[x >> 24];
      std::uint32_t length = entry & 0x1F;
      std::uint32_t code = x >> (32 - length);
      std::uint32_t highest = entry >> 8;
      if (!(entry & 0x80)) {
        while (ranges_[2 * (length - 1)] > code)
          code = x >> (32 - ++length);
        highest = ranges_[2 * length - 1];
      }
      if (!reader.Eat(length))
        return;
      const std::uint32_t index = highest - code;
      const ByteReader record(dictionary_.at(index >> bits_));
      const std::size_t offset = 16 + *record.U16BE(16 + 2 * (index & ((1u << bits_) - 1)));
      const std::uint16_t word = *record.U16BE(offset);
      const auto bytes = record.Slice(offset + 2, word & 0x7FFF)->Bytes();
      if (!(word & 0x8000)) {
        Level(bytes, depth + 1);
      } else if (out_.size() + bytes.size() > space_) {
        return;
      } else {
        out_.append(bytes.begin(), bytes.end());
      }
    }
  }

  std::vector<Bytes> dictionary_;
  std::uint32_t table_[256];
  std::uint32_t ranges_[64];
  std::uint32_t bits_;
  std::string out_;
  std::size_t space_ = 0;
};

TEST(HuffDecompressor, KeptExpansionsGiveWhatPlainExpansionGivesForEverySpace) {
  const std::string text = testbook::SampleText(1500, 5);
  std::vector<testbook::HuffPhrase> phrases;
  for (const std::string &phrase : testbook::FrequentPhrases({text}, 60))
    phrases.push_back({phrase, phrases.size() % 3 != 0});
  // A chain of coded phrases, each one the one before plus a letter.
  for (const char *phrase : {"<p>W", "<p>Wa", "<p>Wat", "<p>Wats", "<p>Watso", "<p>Watson"})
    phrases.push_back({phrase, true});
  const testbook::HuffEncoder encoder(phrases, {text}, 6);
  const std::vector<Bytes> records = encoder.Records();
  ASSERT_GT(records.size(), 2u) << "several CDIC records";
  HuffDecompressor huff(records.front(), {records.begin() + 1, records.end()}, 0);
  PlainDecoder plain(records);
  const Bytes bits = encoder.Encode(text);
  ASSERT_EQ(plain.Decode(bits, text.size()), text);
  for (std::uint32_t space = 0; space <= text.size() + 1; ++space)
    ASSERT_EQ(Decode(huff, bits, space), plain.Decode(bits, space)) << "space " << space;
  EXPECT_FALSE(huff.Error());
}

TEST(HuffDecompressor, RoundTripsFullRecordsWhatTheEncoderWrites) {
  const std::string text = testbook::SampleText(40 * 4096, 9);
  std::vector<std::string> chunks;
  for (std::size_t at = 0; at < text.size(); at += 4096)
    chunks.push_back(text.substr(at, 4096));
  std::vector<testbook::HuffPhrase> phrases;
  for (const std::string &phrase : testbook::FrequentPhrases(chunks, 300))
    phrases.push_back({phrase, phrases.size() % 2 == 0});
  const testbook::HuffEncoder encoder(phrases, chunks);
  const std::vector<Bytes> records = encoder.Records();
  HuffDecompressor huff(records.front(), {records.begin() + 1, records.end()}, 0x0002);
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    Bytes record = encoder.Encode(chunks[i]);
    testbook::AppendTrailingEntries(record, 0x0002, {}, i);
    ASSERT_EQ(Decode(huff, record, 4096), chunks[i]) << "record " << i;
  }
  EXPECT_FALSE(huff.Error());
}

// Damaged copies of a valid book: random bytes changed in the tables, the
// dictionary and the record. Whatever comes out, nothing is read or written
// outside the buffers (the sanitizer build checks the reads) and the text
// stays inside its space.
TEST(HuffDecompressor, DamagedTablesDictionaryAndRecordsStayInsideTheirBuffers) {
  const std::string text = testbook::SampleText(2000, 8);
  std::vector<testbook::HuffPhrase> phrases;
  for (const std::string &phrase : testbook::FrequentPhrases({text}, 40))
    phrases.push_back({phrase, phrases.size() % 2 == 0});
  const testbook::HuffEncoder encoder(phrases, {text}, 7);
  const std::vector<Bytes> records = encoder.Records();
  const Bytes bits = encoder.Encode(text);
  std::mt19937 random(3);
  for (int round = 0; round < 1500; ++round) {
    std::vector<Bytes> damaged = records;
    Bytes record = bits;
    for (int change = 0; change < 4; ++change) {
      Bytes &target = random() % 4 == 0 ? record : damaged[random() % damaged.size()];
      if (!target.empty())
        target[random() % target.size()] = static_cast<std::uint8_t>(random());
    }
    HuffDecompressor huff(damaged.front(), {damaged.begin() + 1, damaged.end()}, random() % 4);
    const std::uint32_t outSize = random() % 3000;
    std::string space(outSize + 32, '#');
    const std::uint32_t count = huff.Decompress(record, space.data(), outSize);
    ASSERT_LE(count, outSize);
    ASSERT_EQ(space.substr(outSize), std::string(32, '#')) << "round " << round;
  }
}

TEST(HuffDecompressorCorpus, EveryHuffBookDecodesInFull) {
  SKIP_WITHOUT_CORPUS();
  const auto books = testbook::CorpusBooksStartingWith("huff-");
  ASSERT_FALSE(books.empty());
  for (const auto &book : books)
    testbook::ExpectCorpusTextDecodes(book);
}

TEST(HuffDecompressorCorpus, HuffBookGivesTheTextOfItsUncompressedTwin) {
  SKIP_WITHOUT_CORPUS();
  const auto folder = testbook::CorpusFolder();
  MobiOperator huff;
  MobiOperator plain;
  ASSERT_TRUE(testbook::OpenBook(huff, (folder / "huff-libmobi-unicode.mobi").string()));
  ASSERT_TRUE(
      testbook::OpenBook(plain, (folder / "none-libmobi-unicode-uncompressed.mobi").string()));
  const std::string text = testbook::Join(testbook::DecodeTextRecords(huff));
  EXPECT_EQ(text.size(), 111701u);
  EXPECT_TRUE(text == testbook::Join(testbook::DecodeTextRecords(plain)));
}

} // namespace
