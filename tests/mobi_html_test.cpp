#include "mobi6/mobi_html.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

std::string Img(const std::string &src) { return "<img src=\"" + src + "\" />"; }

class MobiHtmlTest : public ::testing::Test {
protected:
  // Runs the post-pass over a file holding `html`; returns the new content.
  std::string Rewrite(const std::string &html) {
    testbook::WriteFile(path, testbook::ToBytes(html));
    EXPECT_EQ(MobiHtmlProcess2(path.c_str(), names), MOBI_OK);
    const testbook::Bytes bytes = testbook::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  testbook::ScratchFolder scratch;
  std::string path = scratch.File("book.htm");
  std::vector<std::string> names{"", "b_files/image_1.gif", "", "b_files/image_3.png"};
};

TEST_F(MobiHtmlTest, RecindexNamesEntryN) {
  EXPECT_EQ(Rewrite("<p><IMG ALT=\"x\" RECINDEX=\"00003\" width=3></p>"),
            "<p>" + Img(names[3]) + "</p>");
  EXPECT_EQ(Rewrite("<img recindex=1 recindex='3'/>"), Img(names[3]))
      << "the last attribute counts";
  EXPECT_EQ(Rewrite("< img\trecindex=1>"), Img(names[1]));
}

TEST_F(MobiHtmlTest, MissingPicturesGiveAnEmptySource) {
  EXPECT_EQ(Rewrite("<img recindex=0>"), Img("")) << "no cover";
  EXPECT_EQ(Rewrite("<img recindex=2>"), Img("")) << "record wrote no file";
  EXPECT_EQ(Rewrite("<img recindex=4><img recindex=99999999999999999999>"), Img("") + Img(""));
  names[0] = "b_files/image_9.gif";
  EXPECT_EQ(Rewrite("<img recindex=0>"), Img(names[0]));
}

TEST_F(MobiHtmlTest, OtherTagsStayAsTheyAre) {
  for (const std::string html : {"<img src=\"a.gif\">", "<img\nrecindex=1>", "<  img recindex=1>",
                                 "<imgrecindex=1>", "plain text"})
    EXPECT_EQ(Rewrite(html), html);
}

TEST_F(MobiHtmlTest, TheWholeFileIsOnePiece) {
  // A tag across byte 1023 and bytes after a 0x00 are kept.
  const std::string before(1015, 'x');
  const std::string after = std::string("tail\0more", 9) + std::string(3000, 'y');
  EXPECT_EQ(Rewrite(before + "<img recindex=3>" + after), before + Img(names[3]) + after);
}

TEST_F(MobiHtmlTest, AnUnclosedTagIsPassedInOnePass) {
  std::string unclosed = "<img ";
  for (int i = 0; i < 100000; ++i)
    unclosed += " recindex=1";
  EXPECT_EQ(Rewrite(unclosed + "<img recindex=3>"), unclosed + Img(names[3]));
}

TEST_F(MobiHtmlTest, TheCoverTakesTheFirstImageElement) {
  names[0] = "b_files/image_2.jpg";
  EXPECT_EQ(Rewrite("a< image src=\"x\">b< image>\t<\timage c>"),
            "a" + Img("b_files/image_2.jpg") + "b< image>\t<\timage c>");
  EXPECT_EQ(names[0], "") << "the cover is used once";
  names[0] = "cover";
  for (const std::string html : {"<image a>", "< IMAGE a>", "< imagex>"})
    EXPECT_EQ(Rewrite(html), html);
  EXPECT_EQ(names[0], "cover");
}

TEST_F(MobiHtmlTest, AMissingFileIsReportedAndNothingIsLeftBehind) {
  EXPECT_EQ(MobiHtmlProcess2(scratch.File("missing.htm").c_str(), names), MOBI_ERR_OPEN);
  Rewrite("<img recindex=1>");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

} // namespace
