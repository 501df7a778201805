#include "decoding/doc_decompressor.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "book_text.h"
#include "mobi_writer.h"
#include "palmdoc_encoder.h"
#include "text_encoder.h"

namespace {

using testbook::Bytes;

// Decodes `in` into a zero-filled space of `outSize` bytes; the whole space
// comes back, so tests can see that nothing was written past the count.
std::string Decode(const Bytes &in, std::uint32_t outSize, std::uint32_t *count = nullptr) {
  std::string out(outSize, '\0');
  const std::uint32_t written = DocDecompressor().Decompress(in, out.data(), outSize);
  if (count != nullptr)
    *count = written;
  return out.substr(0, written);
}

TEST(DocDecompressor, TokenKinds) {
  EXPECT_EQ(Decode({0x41, 0x00, 0x09}, 16), std::string("A\0\t", 3)) << "single literals";
  EXPECT_EQ(Decode({0x03, 0x80, 0x81, 0xC2}, 16), "\x80\x81\xC2") << "a run of three";
  EXPECT_EQ(Decode({0xE1}, 16), " a") << "space pair";
  EXPECT_EQ(Decode({0x61, 0x62, 0x80, 0x13}, 16), "abababab") << "overlapping back-reference";
  EXPECT_EQ(Decode({}, 16), "");
}

TEST(DocDecompressor, BackReferenceBeforeTheTextIsDroppedAndDecodingGoesOn) {
  // Distance 3 after two bytes: nothing, then the literal after it.
  EXPECT_EQ(Decode({0x61, 0x62, 0x80, 0x18, 0x63}, 16), "abc");
  // Distance 0 meets bytes no token has written: zeros, as in the zero-filled
  // space the text step hands over.
  EXPECT_EQ(Decode({0x61, 0x80, 0x00, 0x62}, 16), std::string("a\0\0\0b", 5));
}

// Whatever the space held before (a reused buffer, say) never shows through.
TEST(DocDecompressor, DistanceZeroWritesZerosNotTheOldContentOfTheSpace) {
  std::string out(32, '#');
  const Bytes in{0x61, 0x80, 0x02, 0x03, 0x80, 0x81, 0x82, 0x80, 0x00};
  const std::uint32_t count = DocDecompressor().Decompress(in, out.data(), 32);
  EXPECT_EQ(out.substr(0, count), std::string("a\0\0\0\0\0\x80\x81\x82\0\0\0", 12));
}

TEST(DocDecompressor, TokensCutByTheEndOfTheInputStop) {
  EXPECT_EQ(Decode({0x61, 0x05, 0x62, 0x63}, 16), "a") << "run longer than the input left";
  EXPECT_EQ(Decode({0x61, 0x62, 0x80}, 16), "ab") << "lone back-reference byte";
  EXPECT_EQ(Decode({0x61, 0xBF}, 16), "a");
}

TEST(DocDecompressor, TokensThatDoNotFitTheSpaceStopWithoutWritingPart) {
  EXPECT_EQ(Decode({0x61, 0x62, 0x63, 0xE1}, 4), "abc") << "space pair";
  EXPECT_EQ(Decode({0x61, 0x62, 0x63, 0x80, 0x08}, 5), "abc") << "back-reference";
  EXPECT_EQ(Decode({0x61, 0x03, 0x80, 0x81, 0x82}, 3), "a") << "run";
  EXPECT_EQ(Decode({0x61, 0x62, 0x63, 0x64, 0x65}, 4), "abcd") << "literals up to the end";

  // 4095 bytes of 4096 written: only a literal still fits.
  const Bytes almostFull(4095, 'x');
  std::uint32_t count = 0;
  for (const Bytes &last : {Bytes{0xE1}, Bytes{0x80, 0x08}, Bytes{'y'}}) {
    Bytes in = almostFull;
    in.insert(in.end(), last.begin(), last.end());
    Decode(in, 4096, &count);
    EXPECT_EQ(count, last.front() == 'y' ? 4096u : 4095u) << "token " << int{last.front()};
  }
}

TEST(DocDecompressor, FullSpaceEndsDecodingWhateverFollows) {
  Bytes in = testbook::PalmDocEncode(std::string(4096, 'q'));
  const std::size_t compressed = in.size();
  in.insert(in.end(), {0x61, 0x62, 0x01, 0x85});
  std::uint32_t count = 0;
  EXPECT_EQ(Decode(in, 4096, &count), std::string(4096, 'q'));
  EXPECT_LT(compressed, 4096u);
}

// The token rules one byte at a time, into a zero-filled space, for checking
// the decoder's block copies against.
std::string PlainDecode(const Bytes &in, std::size_t outSize) {
  std::string out;
  for (std::size_t p = 0; p < in.size() && out.size() < outSize;) {
    const std::uint8_t byte = in[p++];
    if (byte >= 0x01 && byte <= 0x08) {
      if (p + byte > in.size() || out.size() + byte > outSize)
        break;
      out.append(in.begin() + p, in.begin() + p + byte);
      p += byte;
    } else if (byte >= 0xC0) {
      if (out.size() + 2 > outSize)
        break;
      out += ' ';
      out += static_cast<char>(byte ^ 0x80);
    } else if (byte >= 0x80) {
      if (p == in.size())
        break;
      const std::size_t word = byte << 8 | in[p++];
      const std::size_t length = (word & 7) + 3;
      const std::size_t distance = (word & 0x3FFF) >> 3;
      if (out.size() + length > outSize)
        break;
      if (distance > out.size())
        continue;
      for (std::size_t i = 0; i < length; ++i)
        out += distance == 0 ? '\0' : out[out.size() - distance];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// Random streams, biased towards back-references and runs, into spaces of
// every small size: the same text as the plain rules, and nothing written
// past the space.
TEST(DocDecompressor, BlockCopiesMatchThePlainRulesAndStayInsideTheSpace) {
  std::mt19937 random(5);
  const std::uint8_t kinds[] = {0x41, 0x05, 0xE5, 0x80, 0x88, 0xBF, 0x00};
  for (int round = 0; round < 4000; ++round) {
    Bytes in(random() % 48);
    for (auto &byte : in)
      byte = random() % 3 == 0 ? kinds[random() % std::size(kinds)]
                               : static_cast<std::uint8_t>(random());
    const std::uint32_t outSize = random() % 64;
    std::string space(outSize + 32, '#');
    const std::uint32_t count = DocDecompressor().Decompress(in, space.data(), outSize);
    std::string zeroFilled(outSize, '\0');
    const std::uint32_t again = DocDecompressor().Decompress(in, zeroFilled.data(), outSize);
    ASSERT_EQ(count, again);
    ASSERT_EQ(zeroFilled.substr(0, again), PlainDecode(in, outSize)) << "round " << round;
    ASSERT_EQ(space.substr(0, count), zeroFilled.substr(0, again)) << "round " << round;
    ASSERT_EQ(space.substr(outSize), std::string(32, '#')) << "round " << round;
  }
}

// The encoder uses every kind of token on this text, so the round trip covers
// the decoder's whole table.
TEST(DocDecompressor, RoundTripsWhatTheEncoderWrites) {
  const std::string text =
      testbook::SampleText(64 * 1024, 3) + std::string("\x01\x02\x7F\x80 \x01", 6);
  for (std::size_t at = 0; at < text.size(); at += 4096) {
    const std::string chunk = text.substr(at, 4096);
    const Bytes in = testbook::PalmDocEncode(chunk);
    ASSERT_EQ(Decode(in, 4096), chunk) << "chunk at " << at;
  }
}

TEST(DocDecompressor, IncompressibleRecordLongerThanItsTextRoundTripsThroughABook) {
  std::mt19937 random(11);
  std::string text(3 * 4096 + 100, '\0');
  for (char &c : text)
    c = static_cast<char>(random() | 0x80); // every byte needs a literal run
  testbook::BookSpec spec = testbook::TextBook(text, PdbRecord0::kPalmDoc, 0x0003);
  ASSERT_GT(spec.textRecords[0].size(), 4096u + 512u);

  testbook::ScratchFolder scratch;
  testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook(spec));
  MobiOperator book;
  ASSERT_TRUE(testbook::OpenBook(book, scratch.File("book.mobi")));
  EXPECT_EQ(testbook::Join(testbook::DecodeTextRecords(book)), text);
}

TEST(DocDecompressorCorpus, EveryPalmDocBookDecodesInFull) {
  SKIP_WITHOUT_CORPUS();
  const auto books = testbook::CorpusBooksStartingWith("palmdoc-");
  ASSERT_FALSE(books.empty());
  for (const auto &book : books)
    testbook::ExpectCorpusTextDecodes(book);
}

} // namespace
