#include "container/pdb_reader.h"

#include <gtest/gtest.h>

#include "mobi_writer.h"

namespace {

using testbook::Bytes;

// Reads the header of a file holding `bytes`.
struct HeaderOf {
  explicit HeaderOf(const Bytes &bytes) { whole = header.read(bytes); }
  PdbHeader header;
  bool whole = false;
};

TEST(PdbHeader, EmptyRecordListIn78Bytes) {
  // BuildPdb pads two bytes after the list; cut them to test the exact size.
  Bytes bytes = testbook::BuildPdb({});
  bytes.resize(78);
  HeaderOf exact(bytes);
  EXPECT_TRUE(exact.whole);
  EXPECT_TRUE(exact.header.recordOffsets.empty());
  EXPECT_EQ(exact.header.typeCreator, "BOOKMOBI");
}

TEST(PdbHeader, ReadsNameAttributesTypeAndOffsets) {
  Bytes bytes =
      testbook::BuildPdb({Bytes(10), Bytes(20), Bytes(5)}, std::string(32, 'N'), "TEXtREAd");
  testbook::PutU16BE(bytes, 32, 0x1234);
  HeaderOf read(bytes);
  EXPECT_TRUE(read.whole);
  EXPECT_EQ(read.header.databaseName, std::string(31, 'N') + '\0'); // the writer keeps a NUL
  EXPECT_EQ(read.header.attributes, 0x1234);
  EXPECT_EQ(read.header.typeCreator, "TEXtREAd");
  EXPECT_EQ(read.header.recordOffsets, (std::vector<std::uint32_t>{104, 114, 134}));
}

TEST(PdbHeader, NameWithoutNulKeepsAll32Bytes) {
  Bytes bytes = testbook::BuildPdb({});
  for (int i = 0; i < 32; ++i)
    bytes[i] = 'a' + i % 26;
  HeaderOf read(bytes);
  EXPECT_EQ(read.header.databaseName.size(), 32u);
  EXPECT_EQ(read.header.databaseName[31], 'a' + 31 % 26);
}

TEST(PdbHeader, ShortFileNeverYieldsBookmobi) {
  Bytes bytes = testbook::BuildPdb({});
  bytes.resize(67);
  HeaderOf read(bytes);
  EXPECT_FALSE(read.whole);
  EXPECT_NE(read.header.typeCreator, "BOOKMOBI");
  EXPECT_TRUE(read.header.recordOffsets.empty());
}

TEST(PdbHeader, FileEndingInsideTheRecordListKeepsOnlyWholeOffsets) {
  Bytes bytes = testbook::BuildPdb({Bytes(4), Bytes(4), Bytes(4), Bytes(4)});
  bytes.resize(78 + 8 * 2 + 2); // inside the offset of entry 2
  HeaderOf read(bytes);
  EXPECT_FALSE(read.whole);
  ASSERT_EQ(read.header.recordOffsets.size(), 2u);
  EXPECT_EQ(read.header.recordOffsets[0], 78u + 32 + 2);
  EXPECT_EQ(read.header.recordOffsets[1], 78u + 32 + 6);
}

TEST(PdbHeader, CountOf65535WithAllEntriesPresent) {
  std::vector<Bytes> records(65535);
  HeaderOf read(testbook::BuildPdb(records));
  EXPECT_TRUE(read.whole);
  EXPECT_EQ(read.header.recordOffsets.size(), 65535u);
}

} // namespace
