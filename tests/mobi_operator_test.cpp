#include "mobi_operator.h"

#include <gtest/gtest.h>

#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

using testbook::Bytes;

class MobiOperatorTest : public ::testing::Test {
protected:
  int Open(const Bytes &bytes) {
    testbook::WriteFile(scratch.File("book.mobi"), bytes);
    return book.Init(scratch.File("book.mobi").c_str());
  }
  std::uint64_t Position() { return FilesTell(book.file); }

  testbook::ScratchFolder scratch;
  MobiOperator book;
};

TEST_F(MobiOperatorTest, InitIdentifiesABook) {
  EXPECT_EQ(Open(testbook::BuildPdb({Bytes(100)})), MOBI_OK);
  EXPECT_TRUE(book.IsOpen());
  EXPECT_EQ(book.imageNames, std::vector<std::string>{""});
  EXPECT_FALSE(book.GetTitle().has_value());
  EXPECT_EQ(book.GetCoverImageName(), "");
}

TEST_F(MobiOperatorTest, InitRefusesMissingFileAndOtherDatabases) {
  EXPECT_EQ(book.Init(scratch.File("missing.mobi").c_str()), MOBI_ERR_OPEN);
  EXPECT_NE(book.file, nullptr) << "the failed handle stays for Destroy";
  book.Destroy();
  EXPECT_EQ(book.file, nullptr);

  MobiOperator other;
  testbook::WriteFile(scratch.File("text.pdb"), testbook::BuildPdb({Bytes(8)}, "x", "TEXtREAd"));
  EXPECT_EQ(other.Init(scratch.File("text.pdb").c_str()), MOBI_ERR_NOT_MOBI);
  EXPECT_FALSE(other.IsOpen());
  other.Destroy();
  other.Destroy();
}

TEST_F(MobiOperatorTest, LoadSectionLengthsAndPositions) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(10), Bytes(30), Bytes(7)})), MOBI_OK);
  const std::uint32_t first = book.header->recordOffsets[0];
  EXPECT_EQ(book.LoadSection(0), 10u);
  EXPECT_EQ(Position(), first);
  EXPECT_EQ(book.LoadSection(1), 30u);
  // The last record's length is only a bound; the file decides how much is read.
  EXPECT_EQ(book.LoadSection(2), 0x0FFFFFFFu - (first + 40));
  EXPECT_EQ(Position(), first + 40);
  EXPECT_EQ(book.ReadSection(2).size(), 7u);
}

TEST_F(MobiOperatorTest, LoadSectionPastTheListDoesNotMove) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(10), Bytes(10)})), MOBI_OK);
  book.LoadSection(1);
  const std::uint64_t before = Position();
  EXPECT_EQ(book.LoadSection(2), 0u);
  EXPECT_EQ(book.LoadSection(0xFFFFFFFFu), 0u);
  EXPECT_EQ(Position(), before);
  EXPECT_TRUE(book.ReadSection(7).empty());
}

TEST_F(MobiOperatorTest, OffsetsOutOfOrderWrapButReadStaysInsideTheFile) {
  Bytes bytes = testbook::BuildPdb({Bytes(10, 'a'), Bytes(10, 'b'), Bytes(10, 'c')});
  // Record 1 now starts after record 2.
  testbook::PutU32BE(bytes, 78 + 8, 78 + 24 + 2 + 25);
  ASSERT_EQ(Open(bytes), MOBI_OK);
  const std::uint32_t one = book.header->recordOffsets[1];
  const std::uint32_t two = book.header->recordOffsets[2];
  EXPECT_EQ(book.LoadSection(1), two - one) << "unsigned wrap-around";
  EXPECT_GT(book.LoadSection(1), 0x80000000u);
  EXPECT_EQ(book.ReadSection(1).size(), book.fileSize - one);
  EXPECT_EQ(book.ReadSection(1, 3).size(), 3u);
}

TEST_F(MobiOperatorTest, OffsetsPastTheEndOfTheFileReadNothing) {
  Bytes bytes = testbook::BuildPdb({Bytes(10), Bytes(10)});
  testbook::PutU32BE(bytes, 78 + 8, 0x7FFFFFF0);
  ASSERT_EQ(Open(bytes), MOBI_OK);
  EXPECT_TRUE(book.ReadSection(1).empty());
  EXPECT_EQ(book.ReadSection(0).size(), bytes.size() - book.header->recordOffsets[0]);
}

TEST_F(MobiOperatorTest, UnpackWithoutOutputFolderIsRefusedFirst) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(100)})), MOBI_OK);
  EXPECT_EQ(book.UnpackBook(scratch.File("no/such/folder/book.htm").c_str()), MOBI_ERR_NO_FOLDER);
  EXPECT_EQ(book.bookStem, "book");
}

TEST_F(MobiOperatorTest, BookStemIgnoresDotsInFolders) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(100)})), MOBI_OK);
  const std::string folder = scratch.File("my.books");
  ASSERT_EQ(PathCreateFolder(folder.c_str()), 0);
  book.UnpackBook((folder + "/book").c_str());
  EXPECT_EQ(book.bookStem, "book");
  EXPECT_EQ(book.outputFolder, folder);
  book.UnpackBook((folder + "/a.b.htm").c_str());
  EXPECT_EQ(book.bookStem, "a.b");
}

TEST(MobiOperator, UnpackBeforeInitIsRefused) {
  MobiOperator book;
  EXPECT_EQ(book.UnpackBook("book.htm"), MOBI_ERR_NOT_OPEN);
  book.Destroy();
}

} // namespace
