// Every real book unpacks to HTML and pictures, or ends with a documented code.
#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <filesystem>
#include <set>
#include <string>

#include "common/byte_reader.h"
#include "mobi_operator.h"
#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

using testbook::Bytes;

// What the book itself says, read independently of the library.
struct BookFacts {
  std::vector<Bytes> records;
  std::uint32_t textLength = 0;
  std::uint32_t textEncoding = 0;
  std::uint32_t firstImageRecord = 0;
  std::string fullName;
  std::optional<std::string> author;
};

BookFacts ReadFacts(const std::filesystem::path &path) {
  BookFacts facts;
  const Bytes file = testbook::ReadFile(path.string());
  const ByteReader pdb(file);
  const std::uint16_t count = pdb.U16BE(76).value_or(0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t start = pdb.U32BE(78 + 8 * i).value_or(0);
    const std::size_t end = i + 1 < count ? pdb.U32BE(78 + 8 * (i + 1)).value_or(0) : file.size();
    facts.records.push_back(start <= end && end <= file.size()
                                ? Bytes(file.begin() + static_cast<std::ptrdiff_t>(start),
                                        file.begin() + static_cast<std::ptrdiff_t>(end))
                                : Bytes());
  }
  const ByteReader r0(facts.records.at(0));
  facts.textLength = *r0.U32BE(4);
  facts.textEncoding = *r0.U32BE(28);
  facts.firstImageRecord = *r0.U32BE(108);
  const auto name = r0.Slice(*r0.U32BE(84), *r0.U32BE(88));
  facts.fullName.assign(name->Bytes().begin(), name->Bytes().end());
  std::size_t at = 16 + *r0.U32BE(20);
  if ((*r0.U32BE(128) & 0x40) == 0)
    return facts;
  const std::uint32_t exthCount = *r0.U32BE(at + 8);
  at += 12;
  for (std::uint32_t i = 0; i < exthCount; ++i) {
    const std::uint32_t length = *r0.U32BE(at + 4);
    if (*r0.U32BE(at) == 100) {
      const auto data = r0.Slice(at + 8, length - 8)->Bytes();
      const std::string stored(data.begin(), data.end());
      const std::size_t comma = stored.find(',');
      facts.author = comma == std::string::npos
                         ? stored
                         : stored.substr(comma + 1) + " " + stored.substr(0, comma);
    }
    at += std::max<std::uint32_t>(length, 8);
  }
  return facts;
}

bool IsPicture(const Bytes &record) {
  const auto starts = [&](std::string_view magic) {
    return record.size() >= magic.size() && std::equal(magic.begin(), magic.end(), record.begin(),
                                                       [](char a, std::uint8_t b) {
                                                         return static_cast<std::uint8_t>(a) == b;
                                                       });
  };
  return starts("\xFF\xD8\xFF") || starts("GIF8") || starts("\x89PNG\r\n\x1A\n") || starts("BM");
}

std::vector<std::string> AllMatches(const std::string &text, const char *pattern) {
  std::vector<std::string> found;
  const boost::regex re(pattern, boost::regex::perl | boost::regex::icase);
  for (boost::sregex_iterator m(text.begin(), text.end(), re), end; m != end; ++m)
    found.push_back((*m)[1].str());
  return found;
}

std::string FileText(const std::string &path) {
  const Bytes bytes = testbook::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The HTML before the post-pass, which still holds the books's recindex markup.
std::string MarkupBeforePostPass(const std::filesystem::path &book,
                                 const testbook::ScratchFolder &scratch) {
  MobiOperator steps;
  EXPECT_EQ(steps.Init(book.c_str()), MOBI_OK);
  EXPECT_EQ(steps.SetOutputPath(scratch.File("markup.htm").c_str()), MOBI_OK);
  EXPECT_EQ(steps.ProcessZeroRecord(), MOBI_OK);
  EXPECT_EQ(steps.ProcessMetaInfo(), MOBI_OK);
  EXPECT_EQ(steps.ProcessTextRecord(scratch.File("markup.htm").c_str()), MOBI_OK);
  return FileText(scratch.File("markup.htm"));
}

void CheckGoodBook(const std::filesystem::path &path) {
  testbook::ScratchFolder scratch;
  const BookFacts facts = ReadFacts(path);
  MobiOperator book;
  ASSERT_EQ(book.Init(path.c_str()), MOBI_OK);
  if (FindSections(book.Records()).kf8)
    return; // unpacked from its KF8 rendition: kf8_rendition_test checks those
  const int expected =
      facts.textEncoding == 1252 || facts.textEncoding == 65001 ? MOBI_OK : MOBI_ERR_ENCODING;
  ASSERT_EQ(book.UnpackBook(scratch.File("book.htm").c_str()), expected);
  const std::string html = FileText(scratch.File("book.htm"));
  EXPECT_TRUE(testbook::IsWellFormedUtf8(html));
  EXPECT_GE(html.size(), facts.textLength * 95 / 100) << "the whole text was decoded";

  const auto ids = AllMatches(html, R"re(<a id="filepos(\d+)" />)re");
  const std::set<std::string> anchors(ids.begin(), ids.end());
  for (const std::string &target : AllMatches(html, R"re(href="#filepos(\d+)")re"))
    EXPECT_TRUE(anchors.count(target)) << "no anchor for link " << target;

  for (const std::string &src : AllMatches(html, R"re(<img src="([^"]+)")re"))
    EXPECT_TRUE(std::filesystem::exists(scratch.File(src))) << src;

  // Every picture record is written under its image number.
  for (std::size_t index = facts.firstImageRecord;
       facts.firstImageRecord != 0 && index < facts.records.size(); ++index) {
    if (!IsPicture(facts.records[index]))
      continue;
    const std::size_t number = index - facts.firstImageRecord + 1;
    ASSERT_LT(number, book.ImageNames().size());
    ASSERT_FALSE(book.ImageNames()[number].empty()) << "picture record " << index;
    EXPECT_EQ(testbook::ReadFile(scratch.File(book.ImageNames()[number])), facts.records[index]);
  }
  // Every recindex N of the markup became the element of image number N.
  if (expected == MOBI_OK) {
    for (const std::string &digits : AllMatches(MarkupBeforePostPass(path, scratch),
                                                R"(<[ \t]?img[ \t][^<>]*recindex=['"]?(\d+))")) {
      const std::size_t number = std::stoul(digits);
      ASSERT_LT(number, book.ImageNames().size());
      const std::size_t index = facts.firstImageRecord + number - 1;
      if (index < facts.records.size() && IsPicture(facts.records[index])) {
        EXPECT_NE(html.find("<img src=\"" + book.ImageNames()[number] + "\" />"), std::string::npos)
            << "recindex " << number;
      }
    }
  }

  EXPECT_EQ(book.GetTitle(), facts.fullName);
  EXPECT_EQ(book.GetAuthor(), facts.author);
}

TEST(CorpusHtml, EveryGoodBookUnpacks) {
  SKIP_WITHOUT_CORPUS();
  for (const auto &path : testbook::CorpusBooks()) {
    const std::string name = path.filename().string();
    // KF8-only books are refused until their rendition is read.
    if (StartsWith(name, "bad-") || StartsWith(name, "odd-") || StartsWith(name, "kf8-"))
      continue;
    SCOPED_TRACE(name);
    CheckGoodBook(path);
  }
}

TEST(CorpusHtml, OddAndDamagedBooksEndWithADocumentedCode) {
  SKIP_WITHOUT_CORPUS();
  for (const auto &path : testbook::CorpusBooks()) {
    const std::string name = path.filename().string();
    if (!StartsWith(name, "bad-") && !StartsWith(name, "odd-"))
      continue;
    SCOPED_TRACE(name);
    testbook::ScratchFolder scratch;
    MobiOperator book;
    const int opened = book.Init(path.c_str());
    const int result =
        opened == MOBI_OK ? book.UnpackBook(scratch.File("book.htm").c_str()) : opened;
    EXPECT_GE(result, MOBI_OK);
    EXPECT_LE(result, MOBI_ERR_TEXT_SIZE);
    if (name == "odd-libmobi-drm-v2.mobi") {
      EXPECT_EQ(result, MOBI_ERR_ENCRYPTED);
    }
    if (name == "odd-libmobi-textread-palmdoc.mobi") {
      EXPECT_EQ(opened, MOBI_ERR_NOT_MOBI);
    }
    if (result == MOBI_OK || result == MOBI_ERR_ENCODING) {
      EXPECT_TRUE(testbook::IsWellFormedUtf8(FileText(scratch.File("book.htm"))));
    }
  }
}

} // namespace
