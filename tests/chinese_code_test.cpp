#include "decoding/chinese_code.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool IsUTF8(const std::string &text) {
  return ChineseCode::IsTextUTF8(text.data(), static_cast<int>(text.size()));
}

std::string FromGbk(const std::string &text) {
  std::string result = "stale";
  ChineseCode::GB2312ToUTF_8(result, text.data(), static_cast<int>(text.size()));
  return result;
}

std::string From1252(const std::string &text) {
  std::string result;
  ChineseCode::Windows1252ToUTF_8(result, text.data(), static_cast<int>(text.size()));
  return result;
}

const std::string kZhongWenGbk = "\xD6\xD0\xCE\xC4";            // 中文
const std::string kZhongWenUtf8 = "\xE4\xB8\xAD\xE6\x96\x87"; // 中文

TEST(IsTextUTF8, NeedsWellFormedTextWithAHighByte) {
  EXPECT_FALSE(IsUTF8("hello")) << "plain ASCII takes the conversion path";
  EXPECT_FALSE(ChineseCode::IsTextUTF8("", 0));
  EXPECT_TRUE(IsUTF8("\xE4\xB8\xAD"));
  EXPECT_TRUE(IsUTF8("caf\xC3\xA9 " + kZhongWenUtf8 + " \xF0\x9F\x98\x80"));
  EXPECT_FALSE(IsUTF8("\xC3")) << "a continuation byte is missing at the end";
  EXPECT_FALSE(IsUTF8("\xBF")) << "a continuation byte cannot lead";
  EXPECT_FALSE(IsUTF8("caf\xE9")) << "Windows-1252 text";
}

// Forms that a loose test lets through would make the HTML file invalid UTF-8.
TEST(IsTextUTF8, RefusesFormsOutsideUTF8) {
  EXPECT_FALSE(IsUTF8("\xFE\x80\x80\x80\x80"));
  EXPECT_FALSE(IsUTF8("\xF8\x88\x80\x80\x80"));
  EXPECT_FALSE(IsUTF8("\xC0\xAF")) << "overlong slash";
  EXPECT_FALSE(IsUTF8("\xE0\x83\xA9")) << "overlong e-acute";
  EXPECT_FALSE(IsUTF8("\xED\xA0\x80")) << "surrogate";
  EXPECT_FALSE(IsUTF8("\xF4\x90\x80\x80")) << "past U+10FFFF";
  EXPECT_TRUE(IsUTF8("\xF4\x8F\xBF\xBF"));
}

TEST(UnicodeToUTF_8, WritesTheShortestForm) {
  char out[3];
  const auto encode = [&](char16_t unit) {
    return std::string(out, static_cast<std::size_t>(ChineseCode::UnicodeToUTF_8(out, &unit)));
  };
  EXPECT_EQ(encode(u'\u4E2D'), "\xE4\xB8\xAD");
  EXPECT_EQ(encode(u'\u00E9'), "\xC3\xA9");
  EXPECT_EQ(encode(u'A'), "A");
  EXPECT_EQ(encode(0xD800), "\xEF\xBF\xBD") << "half a surrogate pair";
}

TEST(UTF_8ToUnicode, ReadsOneToThreeByteForms) {
  char16_t unit = 0;
  ChineseCode::UTF_8ToUnicode(&unit, "\xE4\xB8\xAD");
  EXPECT_EQ(unit, u'\u4E2D');
  ChineseCode::UTF_8ToUnicode(&unit, "\xC3\xA9");
  EXPECT_EQ(unit, u'\u00E9');
  ChineseCode::UTF_8ToUnicode(&unit, "z");
  EXPECT_EQ(unit, u'z');
}

TEST(Gb2312ToUnicode, UsesTheGbkTable) {
  char16_t unit = 0;
  EXPECT_EQ(ChineseCode::Gb2312ToUnicode(&unit, "\xD6\xD0"), 1);
  EXPECT_EQ(unit, u'\u4E2D');
  ChineseCode::Gb2312ToUnicode(&unit, "\x81\x40"); // GBK extension beyond GB2312
  EXPECT_EQ(unit, u'\u4E02');
  ChineseCode::Gb2312ToUnicode(&unit, "\xFF\xFF");
  EXPECT_EQ(unit, u'\uFFFD') << "a pair outside the table";
  ChineseCode::Gb2312ToUnicode(&unit, "\x80\x41");
  EXPECT_EQ(unit, u'\uFFFD') << "0x80 opens no pair in GBK";
}

TEST(UnicodeToGB2312, ReversesTheTable) {
  char out[2] = {};
  EXPECT_EQ(ChineseCode::UnicodeToGB2312(out, u'\u4E2D'), 2);
  EXPECT_EQ(std::string(out, 2), "\xD6\xD0");
  EXPECT_EQ(ChineseCode::UnicodeToGB2312(out, u'a'), 1);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(ChineseCode::UnicodeToGB2312(out, u'\uFFFD'), 1);
  EXPECT_EQ(out[0], '?');
}

TEST(GB2312ToUTF_8, ConvertsPairsAndKeepsAscii) {
  EXPECT_EQ(FromGbk("hello"), "hello");
  EXPECT_EQ(FromGbk("<p>" + kZhongWenGbk + "</p>"), "<p>" + kZhongWenUtf8 + "</p>");
  EXPECT_EQ(FromGbk("\xA8\xA6"), "\xC3\xA9") << "e-acute in its two-byte form";
  EXPECT_EQ(FromGbk(std::string("ab\0cd", 5)), "ab") << "the input ends at a NUL byte";
  EXPECT_EQ(FromGbk(""), "");
}

TEST(GB2312ToUTF_8, StrayLeadBytesBecomeReplacementCharacters) {
  EXPECT_EQ(FromGbk("a\xD6"), "a\xEF\xBF\xBD") << "a lead byte at the end";
  // A lead byte that cannot pair with the markup after it leaves the markup whole.
  EXPECT_EQ(FromGbk("\xD6<p>"), "\xEF\xBF\xBD<p>");
  EXPECT_EQ(FromGbk("\xFF\xFFz"), "\xEF\xBF\xBDz");
  EXPECT_TRUE(IsUTF8(FromGbk("\x80\x81\x82\x83\xFE\xFF\xA1")));
}

TEST(UTF_8ToGB2312, ConvertsBack) {
  std::string result;
  const std::string text = "x" + kZhongWenUtf8 + "\xC3\xA9";
  ChineseCode::UTF_8ToGB2312(result, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(result, "x" + kZhongWenGbk + "\xA8\xA6");
  ChineseCode::UTF_8ToGB2312(result, "\xE4\xB8", 2);
  EXPECT_EQ(result, "") << "a sequence cut off by the end is dropped";
}

TEST(Windows1252ToUTF_8, DecodesTheWholeUpperHalf) {
  EXPECT_EQ(From1252("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(From1252("\x93quoted\x94 \x80 \x85"),
            "\xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC \xE2\x80\xA6");
  EXPECT_EQ(From1252("\x81"), "\xEF\xBF\xBD") << "unassigned byte";
  std::string all;
  for (int byte = 1; byte < 256; ++byte)
    all.push_back(static_cast<char>(byte));
  EXPECT_TRUE(IsUTF8(From1252(all)));
}

TEST(PairsIntoGB2312, EveryHighByteMustPairInTheGb2312Rows) {
  const auto pairs = [](const std::string &text) {
    return ChineseCode::PairsIntoGB2312(text.data(), static_cast<int>(text.size()));
  };
  EXPECT_TRUE(pairs("<p>" + kZhongWenGbk + "</p>"));
  EXPECT_TRUE(pairs("ascii only"));
  EXPECT_FALSE(pairs("caf\xE9 ok")) << "0xE9 pairs with a space";
  EXPECT_FALSE(pairs("\xD6")) << "no partner";
  EXPECT_FALSE(pairs("\x81\x40")) << "GBK but not GB2312";
}

} // namespace
