#include "decoding/bit_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "mobi_writer.h"
#include "text_encoder.h"

namespace {

using testbook::Bytes;

TEST(BitReader, PeekAndEatMostSignificantBitFirst) {
  const Bytes bytes{0xA5, 0x0F};
  BitReader reader(bytes);
  EXPECT_EQ(reader.Peek(4), 0xAu);
  EXPECT_TRUE(reader.Eat(4));
  EXPECT_EQ(reader.Peek(8), 0x50u);
  EXPECT_EQ(reader.Peek(12), 0x50Fu);
  EXPECT_EQ(reader.Left(), 12u);
}

TEST(BitReader, BitsPastTheEndReadAsZeroAndEatReportsTheOverrun) {
  const Bytes bytes{0xFF};
  BitReader reader(bytes);
  EXPECT_EQ(reader.Peek(32), 0xFFull << 24);
  EXPECT_TRUE(reader.Eat(8));
  EXPECT_EQ(reader.Left(), 0u);
  EXPECT_EQ(reader.Peek(32), 0u);
  EXPECT_FALSE(reader.Eat(1));
  EXPECT_EQ(reader.Left(), 0u);
}

TEST(BitReader, PeekOutsideOneToThirtyTwoBitsGivesZero) {
  const Bytes bytes(8, 0xFF);
  BitReader reader(bytes);
  EXPECT_EQ(reader.Peek(33), 0u);
  EXPECT_EQ(reader.Peek(0), 0u);
  EXPECT_EQ(reader.Peek(32), 0xFFFFFFFFu);

  BitReader empty(std::span<const std::uint8_t>{});
  EXPECT_EQ(empty.Left(), 0u);
  EXPECT_EQ(empty.Peek(32), 0u);
}

// The reader takes 8 bytes at a time away from the end and byte by byte near
// it; every position and width must give the same bits either way.
TEST(BitReader, EveryPositionAndWidthMatchesTheBitsOneByOne) {
  Bytes bytes(21);
  std::mt19937 random(7);
  for (auto &byte : bytes)
    byte = static_cast<std::uint8_t>(random());
  const auto bit = [&](std::size_t k) -> std::uint64_t {
    return k < bytes.size() * 8 ? (bytes[k / 8] >> (7 - k % 8)) & 1 : 0;
  };
  for (std::uint32_t start = 0; start <= bytes.size() * 8; ++start) {
    for (std::uint32_t width = 1; width <= 32; ++width) {
      BitReader reader(bytes);
      reader.Eat(start);
      std::uint64_t expected = 0;
      for (std::uint32_t k = 0; k < width; ++k)
        expected = expected << 1 | bit(start + k);
      ASSERT_EQ(reader.Peek(width), expected) << "start " << start << " width " << width;
    }
  }
}

TEST(TrailingEntries, BackwardVariableWidthIntegers) {
  EXPECT_EQ(ReadVariableWidthIntegerBE(Bytes{0x81}), 1u);
  EXPECT_EQ(ReadVariableWidthIntegerBE(Bytes{0x00, 0x81, 0x05}), 133u);
  // Four bytes without a marked first byte: the fifth one back is not read.
  EXPECT_EQ(ReadVariableWidthIntegerBE(Bytes{0xFF, 0x01, 0x02, 0x03, 0x04}),
            (1u << 21) + (2u << 14) + (3u << 7) + 4u);
  // Running out of bytes ends the integer too.
  EXPECT_EQ(ReadVariableWidthIntegerBE(Bytes{0x02, 0x03}), (2u << 7) + 3u);
  EXPECT_EQ(ReadVariableWidthIntegerBE(Bytes{}), 0u);
}

TEST(TrailingEntries, EachFlagBitAboveZeroIsOneEntryMeasuredFromTheEnd) {
  const Bytes record{'t', 'e', 'x', 't', 0x82, 0x00, 0x83};
  EXPECT_EQ(SizeOfTrailingEntries(record, 0), 0u);
  EXPECT_EQ(SizeOfTrailingEntries(record, 0x0002), 3u);
  // Bit 1's entry (size 3) is the last three bytes; bit 2's ends just before
  // it, at the marked byte 0x82 (size 2).
  const Bytes two{'t', 0x81, 'x', 0x82, 0x81, 0x00, 0x83};
  EXPECT_EQ(SizeOfTrailingEntries(two, 0x0006), 3u + 2u);
}

TEST(TrailingEntries, MultibyteOverlapIsRemovedAfterTheOtherEntries) {
  // text | overlap bytes 0xA9 0x80, count byte (low bits 2) | entry of size 2
  const Bytes record{'a', 'b', 0xC3, 0xA9, 0x80, 0xE6, 0x55, 0x82};
  EXPECT_EQ(SizeOfTrailingEntries(record, 0x0002), 2u);
  EXPECT_EQ(SizeOfTrailingEntries(record, 0x0003), 2u + 3u);
  EXPECT_EQ(SizeOfTrailingEntries(Bytes{'a', 'b', 0x00}, 0x0001), 1u);
  // Only the low two bits count.
  EXPECT_EQ(SizeOfTrailingEntries(Bytes{'a', 'b', 'c', 0xFD}, 0x0001), 2u);
}

TEST(TrailingEntries, DamagedSizesReachTheRecordSizeWithoutReadingBeforeIt) {
  EXPECT_GE(SizeOfTrailingEntries(Bytes{'a', 0x85}, 0x0002), 2u);
  // Once the entries cover the record nothing more is read or added.
  EXPECT_EQ(SizeOfTrailingEntries(Bytes{0x81, 0x82}, 0x0007), 2u);
  EXPECT_EQ(SizeOfTrailingEntries(Bytes{0x82}, 0x0003), 2u);
  EXPECT_EQ(SizeOfTrailingEntries(Bytes{}, 0xFFFF), 0u);
}

TEST(TrailingEntries, MeasuresWhatTheWriterAppendsForEveryFlagPattern) {
  const Bytes text = testbook::ToBytes("<p>Caf\xC3");
  for (std::uint16_t flags : {0x0000, 0x0001, 0x0002, 0x0003, 0x0006, 0x0007, 0x8002, 0xFFFF}) {
    for (std::size_t seed = 0; seed < 6; ++seed) {
      Bytes record = text;
      testbook::AppendTrailingEntries(record, flags, Bytes{0xA9}, seed);
      EXPECT_EQ(SizeOfTrailingEntries(record, flags), record.size() - text.size())
          << "flags " << flags << " seed " << seed;
    }
  }
}

} // namespace
