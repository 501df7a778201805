// The two walks over the image folder.
#include "folder_images.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "mobi_writer.h"
#include "test_files.h"

namespace {

using testbook::Bytes;
using testbook::ScratchFolder;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::filesystem::path kImages = BOOKCONV_TEST_DATA_DIR "/images";

bool HoldsPng(const std::string &path) {
  const Bytes bytes = testbook::ReadFile(path);
  return bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0;
}

void CopyImage(const char *fixture, const std::filesystem::path &to) {
  std::filesystem::copy_file(kImages / fixture, to);
}

std::string Indent(int files) { return std::string(5 * files, ' '); }

TEST(ConvertFolderImages, ReencodesJpgAndGifUnderTheirOldNames) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path() / "tmpData_files";
  std::filesystem::create_directories(folder / "x");
  CopyImage("transparent.gif", folder / "image_1.gif");
  CopyImage("photo.jpg", folder / "image_2.jpg");
  CopyImage("photo.jpg", folder / "image_3.JPG");
  CopyImage("animated.gif", folder / "a.b.gif");
  CopyImage("photo.jpg", folder / "x/inner.jpg");
  testbook::WriteFile((folder / "notes.txt").string(), testbook::ToBytes("notes"));
  const Bytes upper = testbook::ReadFile((folder / "image_3.JPG").string());

  CaptureStdout();
  ConvertFolderImages(folder.string(), 1);
  // Five spaces for each of the five files, then the sub-folder's lines.
  EXPECT_EQ(GetCapturedStdout(), Indent(5) + "     ----------x\nx(dir)\n");

  EXPECT_TRUE(HoldsPng((folder / "image_1.gif").string()));
  EXPECT_TRUE(HoldsPng((folder / "image_2.jpg").string()));
  EXPECT_TRUE(HoldsPng((folder / "a.b.gif").string()));
  EXPECT_FALSE(std::filesystem::exists(folder / "a.b.png"));
  EXPECT_FALSE(std::filesystem::exists(folder / "image_2.png"));
  EXPECT_EQ(testbook::ReadFile((folder / "image_3.JPG").string()), upper); // case-sensitive
  EXPECT_EQ(testbook::ReadFile((folder / "notes.txt").string()), testbook::ToBytes("notes"));
  EXPECT_FALSE(HoldsPng((folder / "x/inner.jpg").string())); // not descended into
}

TEST(ConvertFolderImages, KeepsWhatItCannotReencode) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path();
  Bytes cut = testbook::ReadFile((kImages / "photo.jpg").string());
  cut.resize(cut.size() / 2);
  testbook::WriteFile((folder / "broken.jpg").string(), cut);
  CopyImage("photo.jpg", folder / "image_4.jpg");
  CopyImage("alpha.png", folder / "image_4.png"); // the name the PNG would take
  const Bytes png = testbook::ReadFile((folder / "image_4.png").string());

  CaptureStdout();
  ConvertFolderImages(folder.string(), 2);
  EXPECT_EQ(GetCapturedStdout(), std::string(10 * 3, ' '));

  EXPECT_EQ(testbook::ReadFile((folder / "broken.jpg").string()), cut);
  EXPECT_FALSE(std::filesystem::exists(folder / "broken.png"));
  EXPECT_FALSE(HoldsPng((folder / "image_4.jpg").string()));
  EXPECT_EQ(testbook::ReadFile((folder / "image_4.png").string()), png);
}

TEST(ClearFolder, RemovesFilesAndEmptySubFoldersOnly) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path() / "tmpData_files";
  std::filesystem::create_directories(folder / "empty");
  std::filesystem::create_directories(folder / "full");
  for (const char *name : {"image_1.jpg", "image_2.gif", "notes.txt", "full/kept.txt"})
    testbook::WriteFile((folder / name).string(), testbook::ToBytes(name));

  CaptureStdout();
  ClearFolder(folder.string(), 1);
  EXPECT_EQ(GetCapturedStdout(),
            "     ----------empty\nempty(dir)\n     ----------full\nfull(dir)\n" + Indent(3));

  EXPECT_FALSE(std::filesystem::exists(folder / "empty"));
  EXPECT_TRUE(std::filesystem::exists(folder / "full/kept.txt"));
  EXPECT_FALSE(std::filesystem::exists(folder / "image_1.jpg"));
  EXPECT_FALSE(std::filesystem::exists(folder / "notes.txt"));
}

TEST(ClearFolder, EmptiedFolderCanBeRemoved) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path() / "tmpData_files";
  std::filesystem::create_directory(folder);
  for (const char *name : {"a.png", "b.gif", "c"})
    testbook::WriteFile((folder / name).string(), testbook::ToBytes(name));
  CaptureStdout();
  ClearFolder(folder.string(), 1);
  EXPECT_EQ(GetCapturedStdout(), Indent(3));
  EXPECT_TRUE(std::filesystem::remove(folder));
}

TEST(FolderWalks, SymbolicLinksAreFilesAndTheirTargetsStay) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path() / "images";
  const std::filesystem::path target = scratch.Path() / "target";
  std::filesystem::create_directories(folder);
  std::filesystem::create_directories(target);
  testbook::WriteFile((target / "keep.txt").string(), testbook::ToBytes("keep"));
  std::filesystem::create_directory_symlink(target, folder / "link");
  CaptureStdout();
  ClearFolder(folder.string(), 1);
  EXPECT_EQ(GetCapturedStdout(), Indent(1));
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder / "link")));
  EXPECT_TRUE(std::filesystem::exists(target / "keep.txt"));
}

TEST(FolderWalks, MissingFolderWritesNothing) {
  CaptureStdout();
  ConvertFolderImages("/nonexistent/tmpData_files", 1);
  ClearFolder("/nonexistent/tmpData_files", 1);
  EXPECT_EQ(GetCapturedStdout(), "");
}

} // namespace
