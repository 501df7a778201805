// The text helpers the library and the program share, and what sharing them
// buys: a Windows-1252 book's title and text read the same.
#include "common/text_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "mobi_writer.h"
#include "pdf_text.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

TEST(TextUtil, Utf8ValidityRejectsWhatDecodersMustNotAccept) {
  using textutil::IsWellFormedUtf8;
  EXPECT_TRUE(IsWellFormedUtf8("plain"));
  EXPECT_TRUE(IsWellFormedUtf8("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x96"));
  EXPECT_FALSE(IsWellFormedUtf8("\xc0\x80"));         // overlong NUL
  EXPECT_FALSE(IsWellFormedUtf8("\xe0\x80\x80"));     // overlong three bytes
  EXPECT_FALSE(IsWellFormedUtf8("\xed\xa0\x80"));     // surrogate
  EXPECT_FALSE(IsWellFormedUtf8("\xf4\x90\x80\x80")); // beyond U+10FFFF
  EXPECT_FALSE(IsWellFormedUtf8("caf\xc3"));          // cut short
  EXPECT_FALSE(IsWellFormedUtf8("caf\xe9"));          // Windows-1252
}

TEST(TextUtil, DecimalNumbersKeepTheirValueWithoutLeadingZeros) {
  EXPECT_EQ(textutil::CanonicalDecimal("000120"), "120");
  EXPECT_EQ(textutil::CanonicalDecimal("000"), "0");
  EXPECT_EQ(textutil::CanonicalDecimal(""), std::nullopt);
  EXPECT_EQ(textutil::CanonicalDecimal("12a"), std::nullopt);
  EXPECT_EQ(textutil::DecimalValue("0042"), 42u);
  EXPECT_EQ(textutil::DecimalValue("18446744073709551616"), std::nullopt); // 2^64
  EXPECT_EQ(textutil::DecimalValue("-1"), std::nullopt);
}

// The five bytes Windows-1252 leaves unassigned, in a title and in the text
// of one book: the program's reading of the title (the PDF's document title)
// must be the text the library wrote into the HTML.
TEST(TextUtil, TitleAndTextOfAWindows1252BookDecodeAlike) {
  const std::string undefined = "Odd \x81\x8d\x8f\x90\x9d bytes";
  testbook::BookSpec spec;
  spec.textEncoding = 1252;
  spec.fullName = undefined;
  spec.textRecords = testbook::SplitText("<html><body><p>" + undefined + "</p></body></html>");
  const testbook::ScratchFolder scratch;
  testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook(spec));

  MobiService *service = CreateMobiService();
  ASSERT_NE(service, nullptr);
  ASSERT_EQ(service->Init(service->data, scratch.File("book.mobi").c_str()), MOBI_OK);
  ASSERT_EQ(service->MobiToHtml(service->data, scratch.File("book.htm").c_str()), MOBI_OK);
  char *title = service->GetTitle(service->data);
  ASSERT_NE(title, nullptr);
  const std::string titleText = finishing::BookTextToUtf8(title);
  std::free(title);
  service->ClearUp(service->data);
  FreeMobiService(service);

  const testbook::Bytes html = testbook::ReadFile(scratch.File("book.htm"));
  EXPECT_EQ(titleText, "Odd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd bytes");
  EXPECT_NE(std::string(html.begin(), html.end()).find("<p>" + titleText + "</p>"),
            std::string::npos);
}

} // namespace
