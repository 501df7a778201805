#include "font_record.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "mobi_writer.h"

namespace {

using testbook::AppendU16BE;
using testbook::AppendU32BE;
using testbook::Bytes;

// A TrueType-shaped file whose naming table holds `family`, padded with
// bytes that do not compress, so the stored stream is longer than every
// obfuscated stretch.
Bytes MakeFont(const std::string &family, const std::string &signature = std::string("\0\1\0\0", 4)) {
  Bytes font(signature.begin(), signature.end());
  AppendU16BE(font, 1); // one table
  AppendU16BE(font, 0);
  AppendU16BE(font, 0);
  AppendU16BE(font, 0);
  font.insert(font.end(), {'n', 'a', 'm', 'e'});
  AppendU32BE(font, 0);
  AppendU32BE(font, 28);                                         // table offset
  AppendU32BE(font, static_cast<std::uint32_t>(18 + 2 * family.size())); // table length
  AppendU16BE(font, 0);  // format
  AppendU16BE(font, 1);  // one name
  AppendU16BE(font, 18); // strings start
  for (std::uint16_t field : {3, 1, 0x409, 1})
    AppendU16BE(font, field);
  AppendU16BE(font, static_cast<std::uint16_t>(2 * family.size()));
  AppendU16BE(font, 0);
  for (char c : family)
    AppendU16BE(font, static_cast<std::uint8_t>(c));
  std::uint32_t noise = 12345;
  for (int i = 0; i < 4000; ++i) {
    noise = noise * 1103515245 + 12345;
    font.push_back(static_cast<std::uint8_t>(noise >> 16));
  }
  return font;
}

struct FontRecordSpec {
  std::size_t keyLength = 20;
  std::size_t obfuscated = 1040; // bytes XORed; 0 for none
  bool compressed = true;
  std::optional<std::uint32_t> decodedSize{}; // default: the font's size
};

Bytes MakeFontRecord(const Bytes &font, const FontRecordSpec &spec) {
  Bytes data = font;
  if (spec.compressed) {
    uLongf length = compressBound(font.size());
    data.resize(length);
    EXPECT_EQ(compress(data.data(), &length, font.data(), font.size()), Z_OK);
    data.resize(length);
  }
  Bytes key;
  for (std::size_t i = 0; i < spec.keyLength; ++i)
    key.push_back(static_cast<std::uint8_t>(0x5A + 7 * i));
  for (std::size_t i = 0; i < data.size() && i < spec.obfuscated; ++i)
    data[i] ^= key[i % key.size()];
  Bytes record = {'F', 'O', 'N', 'T'};
  AppendU32BE(record, spec.decodedSize.value_or(static_cast<std::uint32_t>(font.size())));
  AppendU32BE(record, (spec.compressed ? 1u : 0u) | (spec.obfuscated ? 2u : 0u));
  AppendU32BE(record, static_cast<std::uint32_t>(24 + key.size())); // data offset
  AppendU32BE(record, static_cast<std::uint32_t>(key.size()));
  AppendU32BE(record, 24); // key offset
  record.insert(record.end(), key.begin(), key.end());
  record.insert(record.end(), data.begin(), data.end());
  return record;
}

std::optional<FontFile> Decode(const Bytes &record) { return DecodeFontRecord(ByteReader(record)); }

TEST(FontRecord, DecodesEachObfuscationFoundInTheWild) {
  const Bytes font = MakeFont("Book Serif");
  for (const FontRecordSpec &spec :
       {FontRecordSpec{.keyLength = 20, .obfuscated = 1040}, FontRecordSpec{.keyLength = 16, .obfuscated = 1024},
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
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.decodedSize = static_cast<std::uint32_t>(font.size() + 1)})));
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.decodedSize = static_cast<std::uint32_t>(font.size() - 1)})));
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.decodedSize = kMaxFontSize + 1})));
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.compressed = false, .decodedSize = 0})));
  // Uncompressed data shorter than the size it claims.
  EXPECT_FALSE(Decode(MakeFontRecord(font, {.obfuscated = 0, .compressed = false,
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
