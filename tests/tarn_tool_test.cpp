#include "tarn_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "mobi_writer.h"
#include "test_files.h"

namespace {

using testbook::ScratchFolder;

FILES *Open(const std::string &path) {
  const char *paths[] = {path.c_str()};
  return FilesOpen(paths, 1, "rb");
}

std::string Folder(const char *path) {
  char *folder = PathGetFolder(path);
  std::string text = folder;
  std::free(folder);
  return text;
}

TEST(TarnTool, OpenFailureShowsAsNullFirstStream) {
  FILES *files = Open("/nonexistent/folder/book.mobi");
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(files->streams[0], nullptr);
  char byte = 0;
  EXPECT_EQ(FilesRead(&byte, 1, 1, files), 0u);
  EXPECT_EQ(FilesTell(files), 0u);
  EXPECT_EQ(FilesClose(files), 0);
}

TEST(TarnTool, ReadsSeeksAndTellsWithShortReadAtEnd) {
  ScratchFolder scratch;
  testbook::WriteFile(scratch.File("f"), testbook::ToBytes("0123456789"));
  FILES *files = Open(scratch.File("f"));
  ASSERT_NE(files->streams[0], nullptr);
  char buffer[8] = {};
  EXPECT_EQ(FilesSeek(files, 4, FILES_SEEK_SET), 0);
  EXPECT_EQ(FilesSeek(files, 2, FILES_SEEK_CUR), 0);
  EXPECT_EQ(FilesTell(files), 6u);
  EXPECT_EQ(FilesRead(buffer, 8, 1, files), 4u);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(FilesSeek(files, 0, FILES_SEEK_END), 0);
  EXPECT_EQ(FilesTell(files), 10u);
  FilesClose(files);
}

TEST(TarnTool, FolderOfPath) {
  EXPECT_EQ(Folder("out/book.htm"), "out");
  EXPECT_EQ(Folder("/work/a.b/book"), "/work/a.b");
  EXPECT_EQ(Folder("book.htm"), ".");
  EXPECT_EQ(Folder("/book.htm"), "/");
}

TEST(TarnTool, ExistsAndCreateFolder) {
  ScratchFolder scratch;
  const std::string folder = scratch.File("images") + "/";
  EXPECT_FALSE(PathExists(folder.c_str()));
  EXPECT_EQ(PathCreateFolder(folder.c_str()), 0);
  EXPECT_TRUE(PathExists(folder.c_str()));
  EXPECT_TRUE(PathExists(scratch.File("images").c_str()));
  EXPECT_EQ(PathCreateFolder(folder.c_str()), 0) << "an existing folder is fine";
  EXPECT_NE(PathCreateFolder((scratch.File("no/such/parent") + "/").c_str()), 0);
  EXPECT_FALSE(PathExists(""));
}

} // namespace
