// Right-to-left books, which only the Chromium engine lays out: an Arabic and
// a pointed-Hebrew book converted end to end keep every word on its page,
// none printed over another, and all of their text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "convert_book.h"
#include "kf8_writer.h"
#include "pdf_tools.h"
#include "test_files.h"

namespace {

struct Box {
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

struct Page {
  Box bounds;
  std::vector<Box> words;
};

// The pages and word boxes of pdftotext -bbox.
std::vector<Page> WordBoxes(const std::string &pdf) {
  const std::string html = testbook::RunProgram({"pdftotext", "-bbox", pdf, "-"}).out;
  static const std::regex tag(
      R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">)re");
  std::vector<Page> pages;
  for (auto match = std::sregex_iterator(html.begin(), html.end(), tag);
       match != std::sregex_iterator(); ++match) {
    if ((*match)[1].matched)
      pages.push_back({{0, 0, std::stod((*match)[1]), std::stod((*match)[2])}, {}});
    else if (!pages.empty())
      pages.back().words.push_back({std::stod((*match)[3]), std::stod((*match)[4]),
                                    std::stod((*match)[5]), std::stod((*match)[6])});
  }
  return pages;
}

// Whether two words are printed over each other: on one line (their middles
// less than half a word's height apart) and sharing a fifth of the narrower
// one's width. Boxes of neighbouring lines may overlap where a font's
// ascent and descent exceed the line's height; their ink does not.
bool PrintedOver(const Box &a, const Box &b) {
  const double height = std::min(a.yMax - a.yMin, b.yMax - b.yMin);
  const double middles = std::abs((a.yMin + a.yMax) - (b.yMin + b.yMax)) / 2;
  const double shared = std::min(a.xMax, b.xMax) - std::max(a.xMin, b.xMin);
  return middles < height / 2 && shared > 0.2 * std::min(a.xMax - a.xMin, b.xMax - b.xMin);
}

// How often each character (a UTF-8 sequence) other than white space occurs.
std::map<std::string, int> CharacterCounts(const std::string &text) {
  std::map<std::string, int> counts;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
      ++length;
    if (!std::isspace(static_cast<unsigned char>(text[at])))
      ++counts[text.substr(at, length)];
    at += length;
  }
  return counts;
}

// Converts a KF8 book in `language` of forty paragraphs of `words` (three
// times each) and checks what a reader of the PDF sees.
void ExpectEveryWordOnItsPage(const std::string &words, const std::string &language) {
  std::string body;
  for (int paragraph = 0; paragraph < 40; ++paragraph)
    body += "<p>" + words + " " + words + " " + words + "</p>";
  const std::string skeleton =
      "<html><head><title>" + language + "</title></head><body><div></div></body></html>";
  testbook::Kf8Book book;
  book.flow0.Add(skeleton, {{skeleton.find("</div>"), body}});
  book.exth.push_back({524, testbook::ToBytes(language)});
  testbook::ScratchFolder scratch;
  testbook::WriteFile(scratch.File("book.azw3"), testbook::BuildBook(testbook::Kf8BookSpec(book)));
  const std::string pdf = scratch.File("book.pdf");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = ConvertBook(scratch.File("book.azw3").c_str(), pdf.c_str(),
                                 (scratch.Path().string() + "/").c_str());
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_EQ(result, kConverted) << err;
  EXPECT_EQ(err.find("Warning"), std::string::npos) << err;

  std::size_t offPage = 0, overprinted = 0, wordCount = 0;
  for (const Page &page : WordBoxes(pdf)) {
    for (std::size_t i = 0; i < page.words.size(); ++i) {
      const Box &word = page.words[i];
      ++wordCount;
      offPage += word.xMin < 0 || word.yMin < 0 || word.xMax > page.bounds.xMax ||
                 word.yMax > page.bounds.yMax;
      for (std::size_t j = i + 1; j < page.words.size(); ++j) {
        overprinted += PrintedOver(word, page.words[j]);
      }
    }
  }
  EXPECT_GT(wordCount, 1000u);
  EXPECT_EQ(offPage, 0u) << "words outside the page";
  EXPECT_EQ(overprinted, 0u) << "words printed over a neighbour";

  std::map<std::string, int> wanted = CharacterCounts(body);
  const std::map<std::string, int> printed = CharacterCounts(testbook::PdfText(pdf));
  for (const char *markup : {"<", ">", "p", "/"})
    wanted.erase(markup);
  for (const auto &[character, count] : wanted) {
    const auto found = printed.find(character);
    EXPECT_GE(found == printed.end() ? 0 : found->second, count)
        << "character \"" << character << "\"";
  }
}

TEST(ChromiumRender, ArabicStaysOnThePageAndWhole) {
  ExpectEveryWordOnItsPage("خرج المسافر من المدينة عند الفجر، وحمل معه زادًا قليلًا وكتابًا قديمًا "
                           "ورثه عن جده، ثم جلس تحت شجرة عالية يقرأ في كتابه حتى غابت الشمس.",
                           "ar");
}

TEST(ChromiumRender, PointedHebrewStaysOnThePageAndWhole) {
  ExpectEveryWordOnItsPage("מִזְמוֹר לְדָוִד יְהוָה רֹעִי לֹא אֶחְסָר. בִּנְאוֹת דֶּשֶׁא יַרְבִּיצֵנִי "
                           "עַל־מֵי מְנֻחוֹת יְנַהֲלֵנִי. נַפְשִׁי יְשׁוֹבֵב יַנְחֵנִי בְמַעְגְּלֵי־צֶדֶק לְמַעַן שְׁמוֹ.",
                           "he");
}

} // namespace
