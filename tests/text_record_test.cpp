#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "book_fixture.h"
#include "common/byte_reader.h"
#include "mobi6/filepos_links.h"
#include "huff_encoder.h"
#include "tarn_mobi.h"
#include "text_encoder.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;
using testbook::SplitText;
using testbook::ToBytes;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Anchor(const std::string &number) { return "<a id=\"filepos" + number + "\" />"; }
std::string Link(const std::string &number) { return "<a href=\"#filepos" + number + "\">"; }

class TextRecordTest : public testbook::BookFixture {
protected:
  // Runs the text step on a book made of `records`; returns the HTML after
  // the declaration.
  std::string Convert(std::vector<Bytes> records, std::uint32_t encoding = 65001,
                      std::uint16_t recordSize = 4096) {
    BookSpec spec;
    spec.textRecords = std::move(records);
    spec.textEncoding = encoding;
    spec.textRecordSize = recordSize;
    Open(spec);
    EXPECT_EQ(book.ProcessMetaInfo(), MOBI_OK);
    EXPECT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), MOBI_OK);
    const std::string html = Contents(HtmlPath());
    EXPECT_EQ(html.substr(0, kDeclaration.size()), kDeclaration);
    EXPECT_TRUE(testbook::IsWellFormedUtf8(html));
    return html.substr(std::min(html.size(), kDeclaration.size()));
  }
  std::string Convert(const std::string &text, std::uint32_t encoding = 65001) {
    return Convert(std::vector<Bytes>{ToBytes(text)}, encoding);
  }
};

TEST_F(TextRecordTest, NoTextRecordsGiveTheDeclarationAlone) {
  EXPECT_EQ(Convert(std::vector<Bytes>{}), "");
}

TEST_F(TextRecordTest, LinksBecomeFragmentLinksToAnchorsAtTheirTargets) {
  const std::string text = "<p>Go <a filepos=0000000041>there</a></p><p id=x>Here</p>";
  ASSERT_EQ(text.find("<p id=x>"), 41u);
  EXPECT_EQ(Convert(text),
            "<p>Go " + Link("41") + "there</a></p>" + Anchor("41") + "<p id=x>Here</p>");
}

TEST_F(TextRecordTest, LinkFormsAndTargetsInAnyTag) {
  // Quotes, capitals and leading zeros: the link and the anchor agree on 20.
  EXPECT_EQ(Convert("<A FILEPOS='020' >ab<x>"), Link("20") + "ab" + Anchor("20") + "<x>");
  // A link with another attribute stays, but its target is still anchored;
  // so is the target of a guide reference, even inside a tag.
  EXPECT_EQ(Convert("<a  filepos=3>x<reference filePos=\"1\" />"),
            "<" + Anchor("1") + "a " + Anchor("3") + " filepos=3>x<reference filePos=\"1\" />");
  // All zeros point at position 0, in front of the whole text.
  EXPECT_EQ(Convert("<a filepos=000>z"), Anchor("0") + Link("0") + "z");
}

TEST_F(TextRecordTest, EachTargetGetsOneAnchor) {
  const std::string text = "<a filepos=39>a</a><a filepos=039>b</a>|end";
  ASSERT_EQ(text.find('|'), 39u);
  EXPECT_EQ(Convert(text), Link("39") + "a</a>" + Link("39") + "b</a>" + Anchor("39") + "|end");
}

TEST_F(TextRecordTest, TargetsAtAndPastTheEndLandAtTheEnd) {
  const std::string huge = "999999999999999999999";
  const std::string text = "<a filepos=" + huge + ">x</a><a filepos=52>y</a><a filepos=71>";
  ASSERT_EQ(text.find('y'), 52u);
  ASSERT_EQ(text.size(), 71u);
  EXPECT_EQ(Convert(text), Link(huge) + "x</a>" + Link("52") + Anchor("52") + "y</a>" + Link("71") +
                               Anchor("71") + Anchor(huge))
      << "every link keeps an anchor of its own name";
}

TEST_F(TextRecordTest, AnchorsAndLinksCrossRecordSeams) {
  // Records of 16 bytes: the link tag is cut by the seam at 16, its target
  // (32) is the first byte of the third record, and the guide tag naming 59
  // straddles the seam at 48.
  const std::string text =
      "0123456789<a filepos=32>abcdefgh_target__<ref filepos=59>..tail[second]";
  ASSERT_EQ(text.find("_target"), 32u);
  ASSERT_EQ(text.find("tail"), 59u);
  ASSERT_EQ(text.find("<ref"), 41u);
  EXPECT_EQ(Convert(SplitText(text, 16), 65001, 16),
            "0123456789" + Link("32") + "abcdefgh" + Anchor("32") + "_target__<ref filepos=59>.." +
                Anchor("59") + "tail[second]");
}

TEST_F(TextRecordTest, RecordLengthsAndTheFinalNulByte) {
  // An empty record is skipped; one final 0x00 is dropped; a 0x00 inside the
  // text is left out of the file but still counts for filepos.
  const std::string out = Convert(
      {Bytes{}, ToBytes(std::string("A\0\0", 3)), ToBytes(std::string("BC<a filepos=2>\0", 16))});
  EXPECT_EQ(out, "A" + Anchor("2") + "BC" + Link("2"));
}

// Sample text with a link every 300 bytes, each pointing at another link tag.
std::string LinkedSample() {
  const std::string sample = testbook::SampleText(30000);
  const std::string placeholder = "<a filepos=0000000000>link</a>";
  std::string text;
  std::vector<std::size_t> tags;
  for (std::size_t at = 0; at < sample.size(); at += 300) {
    text += sample.substr(at, 300);
    tags.push_back(text.size());
    text += placeholder;
  }
  for (std::size_t k = 0; k < tags.size(); ++k) {
    const std::string number = std::to_string(tags[k * 7 % tags.size()]);
    text.replace(tags[k] + 11 + 10 - number.size(), number.size(), number);
  }
  return text;
}

// The same text, stored, PalmDOC and HUFF/CDIC, with and without trailing
// entries, in records of 512 bytes that cut links and characters: one HTML file.
TEST_F(TextRecordTest, EveryCompressionGivesTheSameHtml) {
  const std::string text = LinkedSample();
  std::size_t tags = 0, cutTags = 0;
  for (std::size_t at = text.find("<a filepos="); at != std::string::npos;
       at = text.find("<a filepos=", at + 1), ++tags)
    cutTags += at / 512 != (at + 29) / 512;
  ASSERT_GT(cutTags, 0u);
  std::string expected;
  for (const std::uint16_t compression : {PdbRecord0::kNoCompression, PdbRecord0::kPalmDoc,
                                          PdbRecord0::kHuffCdic}) {
    for (const std::uint16_t flags : {0x0, 0x3, 0x13}) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << ", flags " << flags);
      Open(testbook::TextBook(text, compression, flags, 512));
      ASSERT_EQ(book.ProcessZeroRecord(), MOBI_OK);
      ASSERT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), MOBI_OK);
      const std::string html = Contents(HtmlPath());
      if (expected.empty())
        expected = html;
      EXPECT_EQ(html, expected);
    }
  }
  EXPECT_TRUE(testbook::IsWellFormedUtf8(expected));
  const std::string linkPrefix = "<a href=\"#filepos";
  std::size_t links = 0;
  for (std::size_t at = expected.find(linkPrefix); at != std::string::npos;
       at = expected.find(linkPrefix, at + 1), ++links) {
    const std::size_t digits = at + linkPrefix.size();
    const std::string number = expected.substr(digits, expected.find('"', digits) - digits);
    EXPECT_NE(expected.find(Anchor(number) + linkPrefix), std::string::npos) << number;
  }
  EXPECT_EQ(links, tags);
}

TEST_F(TextRecordTest, ARecordIsCutAtTheTextRecordSize) {
  EXPECT_EQ(Convert({ToBytes("abcdefgh"), ToBytes("ijkl")}, 65001, 6), "abcdefijkl");
}

TEST_F(TextRecordTest, Windows1252TextComesOutAsUtf8) {
  EXPECT_EQ(Convert("<p>caf\xE9 \x93quoted\x94</p>", 1252),
            "<p>caf\xC3\xA9 \xE2\x80\x9Cquoted\xE2\x80\x9D</p>");
  // A 0x00 byte in a converted piece is left out; the text after it stays.
  EXPECT_EQ(Convert(std::string("caf\xE9\0 cr\xE8me", 11), 1252), "caf\xC3\xA9 cr\xC3\xA8me");
}

TEST_F(TextRecordTest, PiecesAreDecidedOneByOne) {
  // A Windows-1252 piece, a UTF-8 piece and a GB2312 piece side by side.
  const std::string out =
      Convert("caf\xE9<a filepos=0>\xE4\xB8\xAD<a filepos=0>\xD6\xD0\xCE\xC4", 1252);
  EXPECT_EQ(out, Anchor("0") + "caf\xC3\xA9" + Link("0") + "\xE4\xB8\xAD" + Link("0") +
                     "\xE4\xB8\xAD\xE6\x96\x87");
}

TEST_F(TextRecordTest, GbkTextIsConvertedWhateverTheDeclaredEncoding) {
  EXPECT_EQ(Convert("<p>\xD6\xD0\xCE\xC4\xA8\xA6</p>", 65001),
            "<p>\xE4\xB8\xAD\xE6\x96\x87\xC3\xA9</p>");
  EXPECT_EQ(Convert("<p>\xD6\xD0\xCE\xC4</p>", 1252), "<p>\xE4\xB8\xAD\xE6\x96\x87</p>");
}

TEST_F(TextRecordTest, AnyBytesGiveWellFormedUtf8) {
  std::string noise;
  for (int i = 0; i < 4000; ++i)
    noise.push_back(static_cast<char>((i * 7919 + i / 13) % 256));
  Convert(noise, 65001);
  Convert(noise, 1252);
}

// Stretches that a backtracking search would try again and again: an
// unclosed tag full of filepos attributes, and a link of a million zeros.
TEST_F(TextRecordTest, UnclosedTagsAndLongNumbersAreHandledInOnePass) {
  std::string unclosed = "<p";
  for (int i = 0; i < 100000; ++i)
    unclosed += " filepos=1";
  const std::string zeros = "<a filepos=" + std::string(1000000, '0');
  EXPECT_EQ(Convert(SplitText(unclosed + zeros + "x>" + zeros + ">", 4096)),
            Anchor("0") + unclosed + zeros + "x>" + Link("0"));
}

TEST_F(TextRecordTest, RecordsThatShareTheirBytesReadTheBookAtMostTwice) {
  // Every odd entry of the record list points back at the first text record;
  // the even ones, wrapping around, read the 4 KiB after it. Unchecked, 2,000
  // such records make 8 MB of text out of a book of 29 KB.
  BookSpec spec;
  spec.textRecords = {Bytes(4096, 'a')};
  spec.textRecords.resize(2000);
  spec.tailRecords = {Bytes(4096, 'b')};
  Bytes bytes = testbook::BuildBook(spec);
  const std::uint32_t first = *ByteReader(bytes).U32BE(78 + 8);
  for (std::size_t i = 1; i <= 2000; i += 2)
    testbook::PutU32BE(bytes, 78 + 8 * i, first);
  Open(bytes);
  ASSERT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), MOBI_OK);
  const std::string html = Contents(HtmlPath());
  EXPECT_LE(html.size(), kDeclaration.size() + 2 * bytes.size());
  EXPECT_GT(html.size(), bytes.size()) << "the records still read what the bound allows";
}

TEST_F(TextRecordTest, TextFarBeyondTheBookStopsTheStep) {
  // One code names 32,000 bytes, so each record of one byte holds 64,000
  // bytes of text: 600 of them would make 38 MB out of a book of 40 KB.
  const std::string phrase(32000, 'x');
  const testbook::HuffEncoder encoder({{phrase}}, {phrase + phrase});
  BookSpec spec;
  spec.compression = 17480;
  spec.textRecordSize = 65000;
  spec.huffRecords = encoder.Records();
  spec.textRecords.assign(600, encoder.Encode(phrase + phrase));
  spec.tailRecords = {Bytes{0xE9, 0x8E, '\r', '\n'}}; // the HUFF/CDIC range needs a record after it
  Open(spec);
  ASSERT_EQ(book.ProcessZeroRecord(), MOBI_OK);
  EXPECT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), MOBI_ERR_TEXT_SIZE);

  spec.textRecords.resize(100); // 6.4 MB of text is allowed any book
  Open(spec);
  ASSERT_EQ(book.ProcessZeroRecord(), MOBI_OK);
  EXPECT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), MOBI_OK);
  EXPECT_EQ(Contents(HtmlPath()).size(), kDeclaration.size() + 100 * 64000);
}

TEST_F(TextRecordTest, FailuresHaveTheirOwnCodes) {
  BookSpec spec;
  spec.textRecords = {ToBytes("text")};
  Open(spec);
  EXPECT_EQ(book.ProcessTextRecord(scratch.File("missing/book.htm").c_str()), MOBI_ERR_OPEN);
  EXPECT_EQ(book.ProcessTextRecord("/dev/full"), MOBI_ERR_WRITE);
  std::string text;
  EXPECT_EQ(DecodeTextRecords(book.Records(), TextLayout{1, 1, 4096, 5, 0}, nullptr, text),
            MOBI_ERR_COMPRESSION);
  EXPECT_EQ(text, "");
}

} // namespace

namespace {

// The filepos patterns as the format gives them; the hand matchers must agree
// with them on every closed tag.
const boost::regex kTargetPattern(R"(<[^<>]+filepos=['"]{0,1}(\d+)[^<>]*>)",
                                  boost::regex::perl | boost::regex::icase);
const boost::regex kLinkPattern(R"(<a filepos=['"]{0,1}0*(\d+)['"]{0,1} *>)",
                                boost::regex::perl | boost::regex::icase);

std::optional<std::string> PatternGroup(const std::string &tag, const boost::regex &pattern) {
  boost::smatch match;
  if (!boost::regex_match(tag, match, pattern))
    return std::nullopt;
  return match[1].str();
}

// Tags made of the pieces the patterns care about, in random order.
std::string RandomTag(std::mt19937 &random) {
  static const std::vector<std::string> pieces = {
      "a",  "A", " ",  "  ", "filepos=", "FilePos=", "fILEPOS", "=",    "'",
      "\"", "0", "00", "7",  "1234",     "x",        "href=",   "\x80", "\t"};
  std::string tag = "<";
  const int count = std::uniform_int_distribution<int>(0, 7)(random);
  if (random() % 2)
    tag += random() % 2 ? "a filepos=" : "A FILEPOS=";
  for (int i = 0; i < count; ++i)
    tag += pieces[random() % pieces.size()];
  return tag + ">";
}

// Whether the hand matcher's answer is the pattern's on `tag`; counts a match.
testing::AssertionResult SameAnswer(const std::string &tag, const boost::regex &pattern,
                                    std::optional<std::string_view> digits, int &matches) {
  const std::optional<std::string> group = PatternGroup(tag, pattern);
  if (group.has_value() != digits.has_value() || (group && *group != *digits))
    return testing::AssertionFailure() << tag << ": pattern " << group.value_or("(none)")
                                       << ", matcher " << digits.value_or("(none)");
  matches += group.has_value();
  return testing::AssertionSuccess();
}

} // namespace

TEST(FileposMatchers, AgreeWithTheFormatsPatternsOnEveryTag) {
  std::mt19937 random(20261207);
  int targets = 0, links = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string tag = RandomTag(random);
    ASSERT_TRUE(SameAnswer(tag, kTargetPattern, FileposTargetDigits(tag), targets));
    ASSERT_TRUE(SameAnswer(tag, kLinkPattern, FileposLinkDigits(tag), links));
  }
  // Both kinds of tag came up often enough for the comparison to mean something.
  EXPECT_GT(targets, 10000);
  EXPECT_GT(links, 1000);
}
