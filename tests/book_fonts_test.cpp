// A book's styles and embedded font, rewritten by the library and printed by
// the renderer: what the style sheet says must show in the PDF.
#include "book_fonts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "resources/font_record.h"
#include "kf8/kf8_styles.h"
#include "mobi_writer.h"
#include "pdf_tools.h"
#include "render_pdf.h"
#include "test_files.h"

namespace {

using testbook::Bytes;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

constexpr const char *kSourceFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-ExtraLight.ttf";

// An installed font renamed in its naming table ("DejaVu" becomes "Bkconv",
// as ASCII and as UTF-16), so no installed font can stand in for it.
Bytes UninstalledFont() {
  Bytes font = testbook::ReadFile(kSourceFont);
  const auto rename = [&font](const Bytes &from, const Bytes &to) {
    for (auto at = font.begin();
         (at = std::search(at, font.end(), from.begin(), from.end())) != font.end();)
      at = std::copy(to.begin(), to.end(), at);
  };
  rename(testbook::ToBytes("DejaVu"), testbook::ToBytes("Bkconv"));
  rename(Bytes{0, 'D', 0, 'e', 0, 'j', 0, 'a', 0, 'V', 0, 'u'},
         Bytes{0, 'B', 0, 'k', 0, 'c', 0, 'o', 0, 'n', 0, 'v'});
  return font;
}

const char kBookStyles[] =
    "@font-face { font-family: \"Hand\"; src: url(kindle:embed:0001); }\n"
    ".hand { font-family: \"Hand\"; }\n"
    ".hidden { display: none }\n"
    "@media amzn-kf8 { .shout { text-transform: uppercase } .centre { text-align: center } }\n"
    "@media amzn-mobi { .shout, .kf8only { display: none } }\n"
    ".big { font-size: 40pt }\n";

struct Rendered {
  std::string text;
  std::string fonts;
  std::string boxes;
};

class BookFontsTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!std::filesystem::exists(kSourceFont))
      GTEST_SKIP() << "no " << kSourceFont << " to build the test font from";
    std::filesystem::create_directories(scratch.Path() / "tmpData_files");
    const Bytes font = UninstalledFont();
    testbook::WriteFile(Resources() + "/font_1.ttf", font);
    Kf8Resources resources;
    resources.names = {"", "tmpData_files/font_1.ttf"};
    resources.fontFamilies = {"", FontFamilyName(font)};
    ASSERT_EQ(resources.fontFamilies[1], "Bkconv Sans Light");
    const std::string html = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><head><style>" +
                             RewriteStyleSheet(kBookStyles, resources, {}) +
                             "</style></head><body>"
                             "<p class=\"hand\">Handwritten words</p>"
                             "<p class=\"hidden\">Concealed words</p>"
                             "<p class=\"shout\">quiet words</p>"
                             "<p class=\"kf8only\">Publisher words</p>"
                             "<p class=\"centre\">Middle</p>"
                             "<p class=\"big\">Large</p>"
                             "<p>Small</p>"
                             "</body></html>";
    testbook::WriteFile(Folder() + "tmpData.htm", testbook::ToBytes(html));
  }

  std::string Folder() const { return scratch.Path().string() + "/"; }
  std::string Resources() const { return Folder() + "tmpData_files"; }

  Rendered Render() {
    CaptureStdout();
    CaptureStderr();
    const int result = RenderPdf(Folder() + "tmpData.htm", Folder() + "tmpData.pdf", Folder());
    GetCapturedStderr();
    GetCapturedStdout();
    EXPECT_NE(result, 0);
    const std::string pdf = Folder() + "tmpData.pdf";
    return {testbook::PdfText(pdf), testbook::RunProgram({"pdffonts", pdf}).out,
            testbook::RunProgram({"pdftotext", "-bbox", pdf, "-"}).out};
  }

  testbook::ScratchFolder scratch;
};

TEST_F(BookFontsTest, ThePdfShowsTheBookStylesInItsEmbeddedFont) {
  const char *before = std::getenv("FONTCONFIG_FILE");
  Rendered rendered;
  {
    const BookFonts fonts(Resources());
    ASSERT_TRUE(fonts.Offered());
    rendered = Render();
  }
  EXPECT_STREQ(std::getenv("FONTCONFIG_FILE"), before);
  EXPECT_FALSE(std::filesystem::exists(Resources() + "/fonts.conf"));

  EXPECT_NE(rendered.fonts.find("BkconvSans-ExtraLight"), std::string::npos) << rendered.fonts;
  EXPECT_NE(rendered.text.find("Handwritten words"), std::string::npos) << rendered.text;
  EXPECT_EQ(rendered.text.find("Concealed"), std::string::npos) << rendered.text;
  EXPECT_NE(rendered.text.find("QUIET WORDS"), std::string::npos) << rendered.text;
  EXPECT_NE(rendered.text.find("Publisher words"), std::string::npos) << rendered.text;
  const auto [middleX, middleHeight] = testbook::WordBox(rendered.boxes, "Middle");
  const auto [smallX, smallHeight] = testbook::WordBox(rendered.boxes, "Small");
  const auto [largeX, largeHeight] = testbook::WordBox(rendered.boxes, "Large");
  EXPECT_GT(middleX, smallX + 150) << rendered.boxes;
  EXPECT_GT(largeHeight, 2.5 * smallHeight) << rendered.boxes;
}

// Without the fonts offered, the renderer draws the book's font as outlines:
// the words are on the page but not in the PDF's text.
TEST_F(BookFontsTest, WithoutItTheEmbeddedFontIsNotText) {
  const Rendered rendered = Render();
  EXPECT_EQ(rendered.fonts.find("Bkconv"), std::string::npos) << rendered.fonts;
  EXPECT_EQ(rendered.text.find("Handwritten words"), std::string::npos) << rendered.text;
  EXPECT_NE(rendered.text.find("QUIET WORDS"), std::string::npos) << rendered.text;
}

TEST(BookFonts, AFolderWithoutFontsChangesNothing) {
  testbook::ScratchFolder scratch;
  testbook::WriteFile(scratch.File("image_1.png"), Bytes{1, 2, 3});
  const char *before = std::getenv("FONTCONFIG_FILE");
  const BookFonts fonts(scratch.Path().string());
  EXPECT_FALSE(fonts.Offered());
  EXPECT_STREQ(std::getenv("FONTCONFIG_FILE"), before);
  EXPECT_FALSE(std::filesystem::exists(scratch.File("fonts.conf")));
  const BookFonts missing(scratch.File("no-such-folder"));
  EXPECT_FALSE(missing.Offered());
}

} // namespace
