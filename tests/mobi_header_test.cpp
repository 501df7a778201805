// Record 0 of a book: its fields, its refusals, the decoder it builds, and
// text round trips through whole books for every compression.
#include "mobi_operator.h"

#include <gtest/gtest.h>

#include "book_text.h"
#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"
#include "text_encoder.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;

class MobiHeaderTest : public ::testing::Test {
protected:
  int Open(const Bytes &bytes) {
    testbook::WriteFile(scratch.File("book.mobi"), bytes);
    return book.Init(scratch.File("book.mobi").c_str());
  }
  int Process(const BookSpec &spec) {
    EXPECT_EQ(Open(testbook::BuildBook(spec)), MOBI_OK);
    return book.ProcessZeroRecord();
  }
  const PdbRecord0 &Record0() const { return book.Record0(); }

  testbook::ScratchFolder scratch;
  MobiOperator book;
};

BookSpec SmallBook(std::uint16_t compression = PdbRecord0::kPalmDoc) {
  BookSpec spec;
  spec.compression = compression;
  spec.textRecords = {Bytes(100, 'a'), Bytes(50, 'b')};
  spec.imageRecords = {Bytes{0xFF, 0xD8, 0xFF, 0xE0}};
  spec.extraDataFlags = 0x0003;
  return spec;
}

TEST_F(MobiHeaderTest, ReadsTheFieldsOfAPalmDocBook) {
  BookSpec spec = SmallBook();
  spec.textRecordSize = 2048;
  ASSERT_EQ(Process(spec), MOBI_OK);
  EXPECT_EQ(Record0().compression, PdbRecord0::kPalmDoc);
  EXPECT_EQ(Record0().textRecordCount, 2u);
  EXPECT_EQ(Record0().textRecordSize, 2048u);
  EXPECT_EQ(Record0().firstImageRecord, 3u);
  EXPECT_EQ(Record0().extraDataFlags, 0x0003u);
}

TEST_F(MobiHeaderTest, TextRecordCountIsClampedToTheRecordsThatExist) {
  BookSpec spec = SmallBook();
  spec.textRecordCount = 50;
  ASSERT_EQ(Process(spec), MOBI_OK);
  EXPECT_EQ(Record0().textRecordCount, book.Records().Count() - 1);

  MobiOperator empty;
  spec.textRecordCount = 0;
  testbook::WriteFile(scratch.File("zero.mobi"), testbook::BuildBook(spec));
  ASSERT_EQ(empty.Init(scratch.File("zero.mobi").c_str()), MOBI_OK);
  ASSERT_EQ(empty.ProcessZeroRecord(), MOBI_OK);
  EXPECT_EQ(empty.Record0().textRecordCount, 0u);
}

TEST_F(MobiHeaderTest, RefusalsKeepTheFieldsReadBeforeThem) {
  BookSpec spec = SmallBook(3);
  EXPECT_EQ(Process(spec), MOBI_ERR_COMPRESSION);
  EXPECT_EQ(Record0().compression, 3u);
}

TEST_F(MobiHeaderTest, TextRecordSizeZeroIsRefused) {
  BookSpec spec = SmallBook();
  spec.textRecordSize = 0;
  EXPECT_EQ(Process(spec), MOBI_ERR_RECORD_SIZE);
  EXPECT_EQ(Record0().textRecordCount, 2u);
}

TEST_F(MobiHeaderTest, EncryptedBookIsRefused) {
  BookSpec spec = SmallBook();
  spec.encryption = 2;
  EXPECT_EQ(Process(spec), MOBI_ERR_ENCRYPTED);
  EXPECT_EQ(Record0().textRecordSize, 4096u);
}

// The flags sit at offset 242, inside any MOBI header of 228 bytes or more,
// and every compression strips trailing entries with them.
TEST_F(MobiHeaderTest, ExtraDataFlagsAreReadFromEveryHeaderLongEnoughToHoldThem) {
  for (std::uint16_t compression :
       {PdbRecord0::kNoCompression, PdbRecord0::kPalmDoc, PdbRecord0::kHuffCdic}) {
    for (std::uint32_t headerLength : {200u, 227u, 228u, 232u, 264u}) {
      BookSpec spec = testbook::TextBook("<html>text</html>", compression, 0x0007);
      spec.mobiHeaderLength = headerLength;
      MobiOperator one;
      testbook::WriteFile(scratch.File("flags.mobi"), testbook::BuildBook(spec));
      ASSERT_EQ(one.Init(scratch.File("flags.mobi").c_str()), MOBI_OK);
      ASSERT_EQ(one.ProcessZeroRecord(), MOBI_OK);
      EXPECT_EQ(one.Record0().extraDataFlags, headerLength >= 228 ? 0x0007u : 0u)
          << "compression " << compression << " header " << headerLength;
    }
  }
}

TEST_F(MobiHeaderTest, BookWithoutRecordsOrWithATooShortRecord0IsDamaged) {
  EXPECT_EQ(book.ProcessZeroRecord(), MOBI_ERR_NOT_OPEN);
  ASSERT_EQ(Open(testbook::BuildPdb({})), MOBI_OK);
  EXPECT_EQ(book.ProcessZeroRecord(), MOBI_ERR_DAMAGED);

  MobiOperator cut;
  testbook::WriteFile(scratch.File("cut.mobi"),
                      testbook::BuildPdb({Bytes{0, 2, 0, 0, 0, 0, 0, 0, 0, 1}}));
  ASSERT_EQ(cut.Init(scratch.File("cut.mobi").c_str()), MOBI_OK);
  EXPECT_EQ(cut.ProcessZeroRecord(), MOBI_ERR_DAMAGED);
}

TEST_F(MobiHeaderTest, PalmDocHeaderAloneLeavesTheMobiFieldsAtTheirDefaults) {
  Bytes record0(16, 0);
  testbook::PutU16BE(record0, 0, PdbRecord0::kPalmDoc);
  testbook::PutU16BE(record0, 8, 1);
  testbook::PutU16BE(record0, 10, 4096);
  ASSERT_EQ(Open(testbook::BuildPdb({record0, Bytes{'a'}})), MOBI_OK);
  ASSERT_EQ(book.ProcessZeroRecord(), MOBI_OK);
  EXPECT_EQ(Record0().textRecordCount, 1u);
  EXPECT_EQ(Record0().firstImageRecord, 0u);
  EXPECT_EQ(Record0().extraDataFlags, 0u);
}

BookSpec HuffBook() {
  return testbook::TextBook(testbook::SampleText(9000), PdbRecord0::kHuffCdic, 0x0003);
}

TEST_F(MobiHeaderTest, HuffRangeWithoutARecordAfterItIsRefused) {
  const BookSpec good = HuffBook();
  ASSERT_EQ(Process(good), MOBI_OK);
  const auto n = static_cast<std::uint32_t>(testbook::BookRecords(good).size());
  const std::uint32_t first = 1 + static_cast<std::uint32_t>(good.textRecords.size());
  struct Range {
    std::uint32_t index, count;
  };
  for (const Range range : {Range{first, 1}, Range{first, 0}, Range{first, n - first},
                            Range{0xFFFFFFFF, 2}, Range{first, 0xFFFFFFFF}}) {
    BookSpec spec = good;
    spec.huffRecordIndex = range.index;
    spec.huffRecordCount = range.count;
    MobiOperator one;
    testbook::WriteFile(scratch.File("range.mobi"), testbook::BuildBook(spec));
    ASSERT_EQ(one.Init(scratch.File("range.mobi").c_str()), MOBI_OK);
    EXPECT_EQ(one.ProcessZeroRecord(), MOBI_ERR_ENCRYPTED) << range.index << " + " << range.count;
  }
}

// Dictionary records out of order, or reaching past the end of the file,
// leave the decoder failed, and the book with it: its text would be lost.
TEST_F(MobiHeaderTest, DictionaryOutsideTheFileFailsTheBook) {
  const BookSpec spec = HuffBook();
  const std::size_t cdicEntry = 1 + spec.textRecords.size() + 1; // first CDIC record
  const std::size_t afterEntry = cdicEntry + spec.huffRecords.size() - 1;
  for (const bool pastTheFile : {false, true}) {
    Bytes bytes = testbook::BuildBook(spec);
    if (pastTheFile)
      testbook::PutU32BE(bytes, 78 + 8 * afterEntry, 0x7FFFFFFF);
    else
      testbook::PutU32BE(bytes, 78 + 8 * cdicEntry, 0x7FFFFFFF);
    MobiOperator one;
    testbook::WriteFile(scratch.File("dictionary.mobi"), bytes);
    ASSERT_EQ(one.Init(scratch.File("dictionary.mobi").c_str()), MOBI_OK);
    EXPECT_EQ(one.ProcessZeroRecord(), MOBI_ERR_ENCRYPTED)
        << (pastTheFile ? "past the file" : "out of order");
  }
}

// Text in, book out, text back: every compression, with trailing entries of
// several kinds after every record, and multibyte characters cut at seams.
TEST_F(MobiHeaderTest, TextRoundTripsThroughBooksOfEveryCompression) {
  const std::string text = testbook::SampleText(30000, 4);
  for (std::uint16_t compression :
       {PdbRecord0::kNoCompression, PdbRecord0::kPalmDoc, PdbRecord0::kHuffCdic}) {
    for (std::uint16_t flags : {0x0000, 0x0001, 0x0002, 0x0003, 0x0007, 0x8003}) {
      for (std::uint16_t recordSize : {4096, 1000}) {
        SCOPED_TRACE(testing::Message() << "compression " << compression << " flags " << flags
                                        << " record size " << recordSize);
        testbook::WriteFile(scratch.File("round.mobi"), testbook::BuildBook(testbook::TextBook(
                                                            text, compression, flags, recordSize)));
        MobiOperator one;
        ASSERT_TRUE(testbook::OpenBook(one, scratch.File("round.mobi")));
        const std::vector<std::string> texts = testbook::DecodeTextRecords(one);
        for (std::size_t i = 0; i + 1 < texts.size(); ++i)
          ASSERT_EQ(texts[i].size(), recordSize) << "record " << i + 1;
        ASSERT_TRUE(testbook::Join(texts) == text);
      }
    }
  }
}

} // namespace

namespace {

// The whole unpacking, from book file to HTML file: for a text without links
// or images the file is the declaration followed by the text, byte for byte.
TEST(ZeroRecordUnpack, TextRoundTripsThroughTheHtmlFile) {
  const std::string text = testbook::SampleText(20000, 6);
  testbook::ScratchFolder scratch;
  for (std::uint16_t compression :
       {PdbRecord0::kNoCompression, PdbRecord0::kPalmDoc, PdbRecord0::kHuffCdic}) {
    for (std::uint16_t flags : {0x0000, 0x0003}) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << " flags " << flags);
      testbook::WriteFile(scratch.File("book.mobi"),
                          testbook::BuildBook(testbook::TextBook(text, compression, flags)));
      MobiOperator book;
      ASSERT_EQ(book.Init(scratch.File("book.mobi").c_str()), MOBI_OK);
      ASSERT_EQ(book.UnpackBook(scratch.File("book.htm").c_str()), MOBI_OK);
      const Bytes html = testbook::ReadFile(scratch.File("book.htm"));
      EXPECT_TRUE(std::string(html.begin(), html.end()) ==
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + text);
    }
  }
}

} // namespace

namespace {

// Damaged and odd books as well as good ones: record 0 gives a documented
// result, and every text record then decodes without reading outside its
// buffers (the sanitizer build checks that) and within its space.
TEST(ZeroRecordCorpus, EveryBookGivesADocumentedResultAndDecodesSafely) {
  SKIP_WITHOUT_CORPUS();
  for (const auto &path : testbook::CorpusBooks()) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    MobiOperator book;
    if (book.Init(path.c_str()) != MOBI_OK)
      continue; // not a MOBI book; the operator's own tests cover that
    const int result = book.ProcessZeroRecord();
    if (name == "odd-libmobi-drm-v2.mobi") {
      EXPECT_EQ(result, MOBI_ERR_ENCRYPTED);
    } else if (name.rfind("bad-", 0) != 0) {
      EXPECT_EQ(result, MOBI_OK);
    } else {
      EXPECT_TRUE(result == MOBI_OK || result == MOBI_ERR_COMPRESSION ||
                  result == MOBI_ERR_RECORD_SIZE || result == MOBI_ERR_ENCRYPTED ||
                  result == MOBI_ERR_DAMAGED)
          << result;
    }
    if (result != MOBI_OK)
      continue;
    for (const std::string &text : testbook::DecodeTextRecords(book))
      EXPECT_LE(text.size(), book.Record0().textRecordSize);
  }
}

} // namespace
