#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "book_fixture.h"
#include "common/byte_reader.h"
#include "tarn_mobi.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;
using testbook::ToBytes;

const Bytes kGif = ToBytes("GIF89a-picture");
const Bytes kJfif = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
const Bytes kExif = {0xFF, 0xD8, 0xFF, 0xE1, 4, 5};
const Bytes kPlainJpeg = {0xFF, 0xD8, 0xFF, 0xDB, 6};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 7};
// "BM", then the file size, which the record holds.
Bytes Bmp() {
  Bytes bmp = {'B', 'M', 30, 0, 0, 0};
  bmp.resize(30, 1);
  return bmp;
}
const Bytes kBmp = Bmp();

class ImageRecordTest : public testbook::BookFixture {
protected:
  void OpenWithImages(std::vector<Bytes> images, std::vector<Bytes> tail = {}) {
    BookSpec spec;
    spec.textRecords = {ToBytes("text")};
    spec.imageRecords = std::move(images);
    spec.tailRecords = std::move(tail);
    Open(spec);
  }
  bool Exists(const std::string &name) const { return std::filesystem::exists(scratch.File(name)); }
  Bytes FileBytes(const std::string &name) const { return testbook::ReadFile(scratch.File(name)); }
};

TEST_F(ImageRecordTest, PicturesAreNamedByTheirContent) {
  OpenWithImages({kGif, kJfif, kExif, kPlainJpeg, kPng, kBmp});
  EXPECT_EQ(book.ProcessImageRecord(), 0);
  EXPECT_EQ(book.ImageNames(),
            (std::vector<std::string>{"", "book_files/image_1.gif", "book_files/image_2.gif",
                                      "book_files/image_3.gif", "book_files/image_4.gif",
                                      "book_files/image_5.png", "book_files/image_6.bmp"}));
  EXPECT_EQ(FileBytes("book_files/image_1.gif"), kGif);
  EXPECT_EQ(FileBytes("book_files/image_4.gif"), kPlainJpeg);
  EXPECT_EQ(FileBytes("book_files/image_6.bmp"), kBmp);
}

TEST_F(ImageRecordTest, OnlyPicturesAreWrittenButEveryRecordKeepsItsNumber) {
  // Records that are no picture keep their entries, empty, so the names
  // after them keep their image numbers.
  OpenWithImages({ToBytes("FLIS...."), Bytes{0, 1, 2}, kGif, ToBytes("\xE9\x8E\r\n"),
                  ToBytes("RESCxyz"), ToBytes("BMW and other text"), ToBytes("FONT...."), kPng,
                  ToBytes("abc")});
  book.ProcessImageRecord();
  EXPECT_EQ(book.ImageNames(),
            (std::vector<std::string>{"", "", "", "book_files/image_3.gif", "", "", "", "",
                                      "book_files/image_8.png", ""}));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.File("book_files")),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(ImageRecordTest, NoImageRecordMeansNoFolder) {
  OpenWithImages({});
  EXPECT_EQ(book.ProcessImageRecord(), 0);
  EXPECT_EQ(book.ImageNames(), std::vector<std::string>{""});
  EXPECT_FALSE(Exists("book_files"));
  OpenWithImages(
      {ToBytes("FCIS"), ToBytes("FDST"), ToBytes("DATP"), ToBytes("SRCS"), Bytes{0, 'x'}});
  book.ProcessImageRecord();
  EXPECT_FALSE(Exists("book_files")) << "no picture, no folder";
}

TEST_F(ImageRecordTest, GenImageReportsWhatItWrote) {
  OpenWithImages({kGif});
  std::string name = "untouched";
  EXPECT_EQ(book.GenImage(-1, name), 1);
  EXPECT_EQ(book.GenImage(3, name), 1) << "past the last record";
  EXPECT_EQ(name, "untouched");
  // With firstImageRecord 0 the numbers count from record 0.
  BookSpec spec;
  spec.textRecords = {ToBytes("text")};
  spec.imageRecords = {kGif};
  spec.firstImageRecord = 0;
  Open(spec);
  EXPECT_EQ(book.GenImage(2, name), 0);
  EXPECT_EQ(name, "book_files/image_3.gif");
}

TEST_F(ImageRecordTest, ARecordListPointingBackwardsEndsEachRecordAtTheNextOne) {
  const Bytes first = ToBytes("GIF89a-first"), second = ToBytes("GIF89a-second"),
              third = ToBytes("GIF89a-third");
  OpenWithImages({first, second, third});
  // Record 3 now claims to start at record 1, so record 2's successor lies
  // below it: record 2 may still only run up to record 4.
  Bytes file = testbook::ReadFile(scratch.File("book.mobi"));
  testbook::PutU32BE(file, 78 + 8 * 3, ByteReader(file).U32BE(78 + 8).value());
  Open(file);
  std::string name;
  ASSERT_EQ(book.GenImage(2, name), 0);
  Bytes expected = first;
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(FileBytes(name), expected);
}

TEST_F(ImageRecordTest, AnUnwritableFolderIsAnError) {
  OpenWithImages({kGif});
  testbook::WriteFile(scratch.File("book_files"), Bytes{1}); // a file where the folder goes
  std::string name;
  EXPECT_EQ(book.GenImage(2, name), MOBI_ERR_RESOURCE);
  EXPECT_EQ(name, "");
  EXPECT_EQ(book.ProcessImageRecord(), MOBI_ERR_RESOURCE);
}

} // namespace
