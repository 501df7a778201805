#include "kf8/kf8_styles.h"

#include <gtest/gtest.h>

#include <map>

namespace {

class Kf8StylesTest : public ::testing::Test {
protected:
  Kf8StylesTest() {
    resources.names = {"book_files/image_1.gif", "book_files/image_1.gif", "",
                       "book_files/font_3.ttf", "book_files/font_4.otf"};
    resources.fontFamilies = {"", "", "", "Book Serif", ""};
    flows = [this](std::uint32_t flow) -> std::optional<std::string_view> {
      const auto found = flowTexts.find(flow);
      if (found == flowTexts.end())
        return std::nullopt;
      return found->second;
    };
  }

  std::string Sheet(std::string_view css) {
    std::string rewritten = RewriteStyleSheet(css, resources, flows);
    EXPECT_EQ(rewritten.find("kindle:"), std::string::npos) << rewritten;
    return rewritten;
  }

  Kf8Resources resources;
  std::map<std::uint32_t, std::string> flowTexts;
  FlowText flows;
};

TEST_F(Kf8StylesTest, KindleMediaTypesAreSettled) {
  EXPECT_EQ(Sheet("@media amzn-kf8 { .a { color: red } }"), "@media all { .a { color: red } }");
  EXPECT_EQ(Sheet("p{x:1}@media amzn-mobi { .a { content: \"}\" } /* } */ .b{} }q{y:2}"),
            "p{x:1}q{y:2}");
  EXPECT_EQ(Sheet("@MEDIA Amzn-Mobi, print {a{}}"), "@media print {a{}}");
  EXPECT_EQ(Sheet("@media not amzn-mobi and (color) {a{}}"), "@media all and (color) {a{}}");
  EXPECT_EQ(Sheet("@media not amzn-kf8 {a{}}b{}"), "b{}");
  EXPECT_EQ(Sheet("@media screen {a{}}"), "@media screen {a{}}");
  EXPECT_EQ(Sheet("@supports (display: flex) { @media amzn-mobi { a{} } @media amzn-kf8 { b{} } }"),
            "@supports (display: flex) { @media all { b{} } }");
  // A block left open runs to the end of the sheet, and is still dropped.
  EXPECT_EQ(Sheet("a{}@media amzn-mobi { b { c: d }"), "a{}");
  EXPECT_EQ(Sheet("/* @media amzn-mobi { */ a{}"), "/* @media amzn-mobi { */ a{}");
}

TEST_F(Kf8StylesTest, EmbeddedResourcesNameTheirFiles) {
  EXPECT_EQ(Sheet("div { background: url(kindle:embed:0001?mime=image/jpeg) no-repeat }"),
            "div { background: url(\"book_files/image_1.gif\") no-repeat }");
  EXPECT_EQ(
      Sheet("a { b: url( 'kindle:embed:0002' ); c: url(kindle:embed:00ZZ); d: url(kindle:x) }"),
      "a { b: url(\"data:,\"); c: url(\"data:,\"); d: url(\"data:,\") }");
  // A string that merely spells an address is text, not an address.
  EXPECT_EQ(
      RewriteStyleSheet("a { b: url(other.png); c: \"url(kindle:embed:0001)\" }", resources, flows),
      "a { b: url(other.png); c: \"url(kindle:embed:0001)\" }");
}

TEST_F(Kf8StylesTest, FontFacesAskForTheFontByFamilyFirst) {
  EXPECT_EQ(Sheet("@font-face { font-family: \"X\"; src: url(kindle:embed:0003) format(\"ttf\"), "
                  "url(kindle:embed:0004); font-weight: bold }"),
            "@font-face { font-family: \"X\"; src: local(\"Book Serif\"), "
            "url(\"book_files/font_3.ttf\") format(\"truetype\"), "
            "url(\"book_files/font_4.otf\") format(\"opentype\"); font-weight: bold }");
  EXPECT_EQ(Sheet("@font-face { src: url(kindle:embed:0002) }"),
            "@font-face { src: url(\"data:,\") }");
}

TEST_F(Kf8StylesTest, FlowsAreInlined) {
  flowTexts[1] =
      "@import url(kindle:flow:0002?mime=text/css);\np { background: url(kindle:embed:0001) }";
  flowTexts[2] = "@media amzn-mobi { q{} } @import \"kindle:flow:0001?mime=text/css\"; r{}";
  flowTexts[3] = "<svg/>";
  EXPECT_EQ(Sheet("@import url(\"kindle:flow:0001?mime=text/css\");s{}"),
            // The import of flow 1 inside flow 2 is a cycle and goes.
            " r{}\np { background: url(\"book_files/image_1.gif\") }s{}");
  EXPECT_EQ(Sheet("@import url(kindle:flow:0002) print;"),
            "@media print {\np { background: url(\"book_files/image_1.gif\") } r{}}");
  EXPECT_EQ(Sheet("@import url(kindle:flow:0002) amzn-mobi;a{}"), "a{}");
  EXPECT_EQ(Sheet("@import url(kindle:flow:0009);a{}"), "a{}");
  EXPECT_EQ(Sheet("@import url(print.css);"), "@import url(print.css);");
  EXPECT_EQ(Sheet("a { b: url(kindle:flow:0003?mime=image/svg+xml) }"),
            "a { b: url(\"data:image/svg+xml;base64,PHN2Zy8+\") }");
}

TEST_F(Kf8StylesTest, StyleAttributesGainNoDoubleQuote) {
  resources.names[1] = "it's_files/image_1.gif";
  EXPECT_EQ(
      RewriteStyleAttribute("background-image: url(kindle:embed:0001?mime=image/gif); color: red",
                            resources, flows),
      "background-image: url('it\\'s_files/image_1.gif'); color: red");
}

TEST_F(Kf8StylesTest, HostileSheetsStayBounded) {
  // Nesting far deeper than the rewriter follows.
  std::string nested;
  for (int i = 0; i < 5000; ++i)
    nested += "@media amzn-kf8 {";
  const std::string rewritten = Sheet(nested + "a{background:url(kindle:embed:0001)}");
  EXPECT_NE(rewritten.find("book_files/image_1.gif"), std::string::npos);
  // A flow that refers to itself many times stays within the inlining budget.
  flowTexts[1] = std::string(1 << 20, 'x');
  std::string many;
  for (int i = 0; i < 200; ++i)
    many += "a{b:url(kindle:flow:0001?mime=image/png)}";
  EXPECT_LT(Sheet(many).size(), std::size_t{100} << 20);
}

} // namespace
