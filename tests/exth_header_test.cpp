#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "book_fixture.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;
using testbook::ExthRecord;
using testbook::ToBytes;
using testbook::U32;

class ExthHeaderTest : public testbook::BookFixture {
protected:
  BookSpec Spec(std::vector<ExthRecord> exth) {
    BookSpec spec;
    spec.textRecords = {ToBytes("text")};
    spec.imageRecords = {ToBytes("GIF89a-one"), ToBytes("GIF89a-two")};
    spec.textEncoding = 1252;
    spec.exth = std::move(exth);
    return spec;
  }
};

TEST_F(ExthHeaderTest, TitleAuthorEncodingAndCover) {
  Open(Spec({{100, ToBytes("Doe, Jane")}, {201, U32(1)}}));
  EXPECT_EQ(book.ProcessMetaInfo(), 0);
  EXPECT_EQ(book.Record0().textEncoding, 1252u);
  EXPECT_EQ(book.GetTitle(), "A Test Book");
  EXPECT_EQ(book.GetAuthor(), " Jane Doe") << "split at the comma, nothing trimmed";
  EXPECT_EQ(book.GetCoverImageName(), "book_files/image_2.gif");
  EXPECT_EQ(testbook::ReadFile(scratch.File("book_files/image_2.gif")), ToBytes("GIF89a-two"));
}

TEST_F(ExthHeaderTest, AuthorRecords) {
  // An empty record takes its 8 header bytes and nothing more.
  Open(Spec({{100, ToBytes("First")}, {100, Bytes{}}, {100, ToBytes("a,b,c")}, {100, Bytes{}}}));
  book.ProcessMetaInfo();
  EXPECT_EQ(book.GetAuthor(), "b,c a") << "the last non-empty record, split at its first comma";
}

TEST_F(ExthHeaderTest, CoverRecordsThatNameNoCover) {
  for (const auto &cover : {ExthRecord{201, U32(0xFFFFFFFF)}, ExthRecord{201, Bytes(8, 0)},
                            ExthRecord{201, U32(7)}}) {
    Open(Spec({cover}));
    book.ProcessMetaInfo();
    EXPECT_EQ(book.GetCoverImageName(), "");
  }
}

TEST_F(ExthHeaderTest, ExthIsReadOnlyWhenFlagged) {
  BookSpec spec = Spec({{100, ToBytes("Someone")}});
  spec.exthFlags = 0x10;
  Open(spec);
  book.ProcessMetaInfo();
  EXPECT_FALSE(book.GetAuthor().has_value());
}

TEST_F(ExthHeaderTest, NoTitleWithoutAFullName) {
  BookSpec spec = Spec({});
  spec.fullName = "";
  Open(spec);
  book.ProcessMetaInfo();
  EXPECT_FALSE(book.GetTitle().has_value());
}

// Patches record 0 of the written book and opens it again.
class DamagedExthHeaderTest : public ExthHeaderTest {
protected:
  void Patch(std::size_t offsetInRecord0, std::uint32_t value) {
    Bytes bytes = testbook::ReadFile(scratch.File("book.mobi"));
    testbook::PutU32BE(bytes, RecordStart(bytes) + offsetInRecord0, value);
    Open(bytes);
  }
  static std::size_t RecordStart(const Bytes &bytes) {
    return 78 + 8 * (bytes[76] << 8 | bytes[77]) + 2;
  }
};

TEST_F(DamagedExthHeaderTest, AFullNameOutsideRecord0GivesNoTitle) {
  Open(Spec({}));
  Patch(88, 0x7FFFFFFF);
  EXPECT_EQ(book.ProcessMetaInfo(), 0);
  EXPECT_FALSE(book.GetTitle().has_value());
}

TEST_F(DamagedExthHeaderTest, TheExthWalkEndsWithRecord0) {
  Open(Spec({{100, ToBytes("Kept Author")}, {201, U32(0)}}));
  // The block claims four billion records, the second of which runs past
  // the end of record 0.
  const std::size_t exth = 16 + 232;
  Patch(exth + 8, 0xFFFFFFFF);
  EXPECT_EQ(book.ProcessMetaInfo(), 0);
  EXPECT_EQ(book.GetAuthor(), "Kept Author");
  EXPECT_EQ(book.GetCoverImageName(), "book_files/image_1.gif");
}

TEST_F(DamagedExthHeaderTest, TheExthWalkEndsWithTheFile) {
  Open(Spec({{201, U32(0)}, {100, ToBytes("Cut Off By The End")}}));
  Bytes bytes = testbook::ReadFile(scratch.File("book.mobi"));
  bytes.resize(RecordStart(bytes) + 16 + 232 + 12 + 12 + 8 + 4);
  Open(bytes);
  EXPECT_EQ(book.ProcessMetaInfo(), 0);
  EXPECT_EQ(book.Record0().textEncoding, 1252u);
  EXPECT_FALSE(book.GetAuthor().has_value());
  EXPECT_FALSE(book.GetTitle().has_value()) << "the full name lay past the end";
}

TEST_F(DamagedExthHeaderTest, AnExthLengthPastRecord0EndsTheWalk) {
  Open(Spec({{201, U32(1)}, {100, ToBytes("Never Read")}}));
  const std::size_t firstRecord = 16 + 232 + 12;
  Patch(firstRecord + 4, 0xFFFFFFF0);
  EXPECT_EQ(book.ProcessMetaInfo(), 0);
  EXPECT_FALSE(book.GetAuthor().has_value());
  EXPECT_EQ(book.GetCoverImageName(), "");
}

} // namespace
