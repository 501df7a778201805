#include "mobi_operator.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"
#include "text_encoder.h"

namespace {

using testbook::Bytes;

class MobiOperatorTest : public ::testing::Test {
protected:
  int Open(const Bytes &bytes) {
    testbook::WriteFile(scratch.File("book.mobi"), bytes);
    return book.Init(scratch.File("book.mobi").c_str());
  }
  Bytes Record(std::uint32_t index) const {
    const auto bytes = book.Records().Record(index).Bytes();
    return Bytes(bytes.begin(), bytes.end());
  }

  testbook::ScratchFolder scratch;
  MobiOperator book;
};

TEST_F(MobiOperatorTest, InitIdentifiesABook) {
  EXPECT_EQ(Open(testbook::BuildPdb({Bytes(100)})), MOBI_OK);
  EXPECT_TRUE(book.IsOpen());
  EXPECT_EQ(book.ImageNames(), std::vector<std::string>{""});
  EXPECT_FALSE(book.GetTitle().has_value());
  EXPECT_EQ(book.GetCoverImageName(), "");
}

TEST_F(MobiOperatorTest, InitRefusesMissingFileAndOtherDatabases) {
  EXPECT_EQ(book.Init(scratch.File("missing.mobi").c_str()), MOBI_ERR_OPEN);
  book.Destroy();

  MobiOperator other;
  testbook::WriteFile(scratch.File("text.pdb"), testbook::BuildPdb({Bytes(8)}, "x", "TEXtREAd"));
  EXPECT_EQ(other.Init(scratch.File("text.pdb").c_str()), MOBI_ERR_NOT_MOBI);
  EXPECT_FALSE(other.IsOpen());
  other.Destroy();
  other.Destroy();
}

TEST_F(MobiOperatorTest, TheLastRecordEndsWithTheFile) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(10), Bytes(30), Bytes(7, 'z')})), MOBI_OK);
  EXPECT_EQ(Record(1), Bytes(30));
  EXPECT_EQ(Record(2), Bytes(7, 'z'));
  EXPECT_TRUE(Record(3).empty());
}

TEST_F(MobiOperatorTest, OffsetsOutOfOrderWrapButRecordsStayInsideTheFile) {
  Bytes bytes = testbook::BuildPdb({Bytes(10, 'a'), Bytes(10, 'b'), Bytes(10, 'c')});
  // Record 1 now starts inside record 2, after its first five bytes.
  testbook::PutU32BE(bytes, 78 + 8, 78 + 24 + 2 + 25);
  ASSERT_EQ(Open(bytes), MOBI_OK);
  EXPECT_EQ(Record(1), Bytes(5, 'c')) << "the end of the file ends it";
  EXPECT_EQ(Record(0).size(), 25u) << "record 0 runs up to record 1";
  EXPECT_EQ(Record(2), Bytes(5, 'c')) << "record 2 runs up to record 1, the next start in the file";
}

TEST_F(MobiOperatorTest, OffsetsPastTheEndOfTheFileGiveEmptyRecords) {
  Bytes bytes = testbook::BuildPdb({Bytes(10), Bytes(10)});
  testbook::PutU32BE(bytes, 78 + 8, 0x7FFFFFF0);
  ASSERT_EQ(Open(bytes), MOBI_OK);
  EXPECT_TRUE(Record(1).empty());
  EXPECT_EQ(Record(0).size(), 20u);
  EXPECT_EQ(book.Records().FileSize(), bytes.size());
}

TEST_F(MobiOperatorTest, UnpackWithoutOutputFolderIsRefusedFirst) {
  ASSERT_EQ(Open(testbook::BuildPdb({Bytes(100)})), MOBI_OK);
  EXPECT_EQ(book.UnpackBook(scratch.File("no/such/folder/book.htm").c_str()), MOBI_ERR_NO_FOLDER);
}

// The picture folder is named after the HTML file without its extension; a
// dot in a folder name is no extension.
TEST_F(MobiOperatorTest, PictureFolderTakesTheHtmlFilesStem) {
  testbook::BookSpec spec = testbook::TextBook("<html>text</html>", PdbRecord0::kPalmDoc, 0);
  spec.imageRecords = {Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}};
  ASSERT_EQ(Open(testbook::BuildBook(spec)), MOBI_OK);
  const std::string folder = scratch.File("my.books");
  ASSERT_EQ(PathCreateFolder(folder.c_str()), 0);
  ASSERT_EQ(book.UnpackBook((folder + "/book").c_str()), MOBI_OK);
  EXPECT_TRUE(std::filesystem::exists(folder + "/book_files/image_1.gif"));
  ASSERT_EQ(book.UnpackBook((folder + "/a.b.htm").c_str()), MOBI_OK);
  EXPECT_TRUE(std::filesystem::exists(folder + "/a.b_files/image_1.gif"));
}

TEST(MobiOperator, UnpackBeforeInitIsRefused) {
  MobiOperator book;
  EXPECT_EQ(book.UnpackBook("book.htm"), MOBI_ERR_NOT_OPEN);
  book.Destroy();
}

} // namespace
