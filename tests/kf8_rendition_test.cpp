#include "kf8/kf8_rendition.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "html_checks.h"
#include "mobi_operator.h"
#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

std::string ReadText(const std::string &path) {
  const testbook::Bytes bytes = testbook::ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// The words of an HTML text, its tags and entities left out.
std::set<std::string> Words(const std::string &html) {
  static const std::regex markup(R"(<[^>]*>|&[#a-zA-Z0-9]+;)");
  std::istringstream text(std::regex_replace(html, markup, " "));
  std::set<std::string> words;
  for (std::string word; text >> word;)
    if (word.size() > 3)
      words.insert(word);
  return words;
}

struct Unpacked {
  int result = -1;
  BookKind kind = BookKind::Mobi6;
  std::string html;
};

Unpacked Unpack(const std::string &book, const testbook::ScratchFolder &scratch) {
  MobiOperator mobi;
  Unpacked out;
  if (mobi.Init(book.c_str()) != MOBI_OK)
    return out;
  out.result = mobi.UnpackBook(scratch.File("book.htm").c_str());
  out.kind = FindSections(mobi.Records()).kind;
  if (std::filesystem::exists(scratch.File("book.htm")))
    out.html = ReadText(scratch.File("book.htm"));
  return out;
}

TEST(Kf8RenditionCorpus, EveryKf8BookUnpacksFromItsKf8Rendition) {
  SKIP_WITHOUT_CORPUS();
  std::size_t kf8Books = 0;
  for (const auto &path : testbook::CorpusBooks()) {
    const std::string name = path.filename().string();
    if (name.starts_with("bad-"))
      continue;
    SCOPED_TRACE(name);
    testbook::ScratchFolder scratch;
    const Unpacked book = Unpack(path.string(), scratch);
    if (book.kind == BookKind::Mobi6)
      continue;
    ++kf8Books;
    EXPECT_EQ(book.result, MOBI_OK);
    EXPECT_NE(book.html.find("<div class=\"bookconv-part"), std::string::npos)
        << "from the KF8 rendition";
    testbook::ExpectSoundDocument(book.html, scratch);
  }
  EXPECT_GE(kf8Books, 4u);
}

// The KF8 rendition holds the text of the MOBI6 one made from the same source.
TEST(Kf8RenditionCorpus, TheTextEqualsTheMobi6Twin) {
  SKIP_WITHOUT_CORPUS();
  const std::pair<const char *, const char *> twins[] = {
      {"kf8-calibre-origin-of-species.azw3", "palmdoc-gutenberg-origin-of-species-cp1252.mobi"},
      {"odd-calibre8-first-men-kf8only.azw3", "palmdoc-calibre8-first-men-in-the-moon.mobi"},
      {"kf8-calibre-checkmate-46img.azw3", "palmdoc-calibre-checkmate-46img.mobi"}};
  for (const auto &[kf8, mobi6] : twins) {
    SCOPED_TRACE(kf8);
    testbook::ScratchFolder one, two;
    const Unpacked kf8Book = Unpack((testbook::CorpusFolder() / kf8).string(), one);
    const Unpacked mobi6Book = Unpack((testbook::CorpusFolder() / mobi6).string(), two);
    ASSERT_EQ(kf8Book.result, MOBI_OK);
    ASSERT_EQ(mobi6Book.result, MOBI_OK);
    const std::set<std::string> kf8Words = Words(kf8Book.html);
    const std::set<std::string> mobi6Words = Words(mobi6Book.html);
    std::size_t found = 0;
    for (const std::string &word : mobi6Words)
      found += kf8Words.contains(word);
    EXPECT_GE(found * 100, mobi6Words.size() * 97) << found << " of " << mobi6Words.size();
  }
}

// A hybrid whose KF8 section cannot be read falls back to its MOBI6 half; a
// KF8-only book in that state is refused.
TEST(Kf8Rendition, AnUnreadableKf8SectionFallsBackOrIsRefused) {
  testbook::HybridSpec spec;
  spec.mobi6.textRecords = testbook::SplitText("<p>the mobi6 half</p>");
  spec.kf8 = testbook::Kf8Spec(testbook::SplitText("<html><body><p>kf8</p></body></html>"));
  testbook::ScratchFolder scratch;
  testbook::WriteFile(scratch.File("hybrid.mobi"), testbook::BuildHybrid(spec));
  const Unpacked hybrid = Unpack(scratch.File("hybrid.mobi"), scratch);
  EXPECT_EQ(hybrid.kind, BookKind::Hybrid);
  EXPECT_EQ(hybrid.result, MOBI_OK);
  EXPECT_NE(hybrid.html.find("<p>the mobi6 half</p>"), std::string::npos);

  testbook::ScratchFolder alone;
  testbook::WriteFile(alone.File("kf8.azw3"), testbook::BuildBook(spec.kf8));
  const Unpacked kf8 = Unpack(alone.File("kf8.azw3"), alone);
  EXPECT_EQ(kf8.kind, BookKind::Kf8);
  EXPECT_EQ(kf8.result, MOBI_ERR_KF8);
  EXPECT_FALSE(std::filesystem::exists(alone.File("book.htm"))) << "nothing written";
}

} // namespace
