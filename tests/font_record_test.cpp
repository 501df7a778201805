#include "resources/font_record.h"

#include <gtest/gtest.h>

#include "font_builder.h"
#include "mobi_writer.h"

namespace {

using testbook::Bytes;
using testbook::FontRecordSpec;
using testbook::MakeFont;
using testbook::MakeFontRecord;

std::optional<FontFile> Decode(const Bytes &record) { return DecodeFontRecord(ByteReader(record)); }

TEST(FontRecord, DecodesEachObfuscationFoundInTheWild) {
  const Bytes font = MakeFont("Book Serif");
  for (const FontRecordSpec &spec :
       {FontRecordSpec{.keyLength = 20, .obfuscated = 1040},
        FontRecordSpec{.keyLength = 16, .obfuscated = 1024},
        FontRecordSpec{.keyLength = 16, .obfuscated = 52 * 16}, FontRecordSpec{.obfuscated = 0},
        FontRecordSpec{.compressed = false}}) {
    SCOPED_TRACE(testing::Message() << "key " << spec.keyLength << ", XOR " << spec.obfuscated);
    const std::optional<FontFile> decoded = Decode(MakeFontRecord(font, spec));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->bytes, font);
    EXPECT_EQ(decoded->extension, "ttf");
    EXPECT_EQ(FontFamilyName(decoded->bytes), "Book Serif");
  }
  const std::optional<FontFile> open = Decode(MakeFontRecord(MakeFont("Sans", "OTTO"), {}));
  ASSERT_TRUE(open);
  EXPECT_EQ(open->extension, "otf");
}

TEST(FontRecord, DamagedRecordsDecodeToNothing) {
  const Bytes font = MakeFont("Book Serif");
  Bytes truncated = MakeFontRecord(font, {});
  truncated.resize(truncated.size() - 100);
  EXPECT_FALSE(Decode(truncated));
  EXPECT_FALSE(
      Decode(MakeFontRecord(font, {.decodedSize = static_cast<std::uint32_t>(font.size() + 1)})));
  EXPECT_FALSE(
      Decode(MakeFontRecord(font, {.decodedSize = static_cast<std::uint32_t>(font.size() - 1)})));
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.decodedSize = kMaxFontSize + 1})));
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.compressed = false, .decodedSize = 0})));
  // Uncompressed data shorter than the size it claims.
  EXPECT_FALSE(
      Decode(MakeFontRecord(font, {.obfuscated = 0,
                                   .compressed = false,
                                   .decodedSize = static_cast<std::uint32_t>(font.size() + 1)})));
  Bytes keyOutside = MakeFontRecord(font, {});
  testbook::PutU32BE(keyOutside, 20, static_cast<std::uint32_t>(keyOutside.size() - 4));
  EXPECT_FALSE(Decode(keyOutside));
  Bytes dataOutside = MakeFontRecord(font, {});
  testbook::PutU32BE(dataOutside, 12, 0xFFFFFFF0);
  EXPECT_FALSE(Decode(dataOutside));
  EXPECT_FALSE(Decode(Bytes{'F', 'O', 'N', 'T', 0, 0}));
  // Inflates to the stated size, but holds no font.
  EXPECT_FALSE(Decode(MakeFontRecord(MakeFont("X", "GIF8"), {})));
}

TEST(FontRecord, FamilyNameOfDamagedTablesIsEmpty) {
  Bytes font = MakeFont("Book Serif");
  EXPECT_EQ(FontFamilyName(Bytes(font.begin(), font.begin() + 40)), "");
  testbook::PutU32BE(font, 20, 0xFFFF0000); // table offset past the end
  EXPECT_EQ(FontFamilyName(font), "");
  EXPECT_EQ(FontFamilyName(Bytes{'t', 't', 'c', 'f', 0, 1, 0, 0, 0, 0, 0, 1, 0xFF, 0, 0, 0}), "");
}

} // namespace
