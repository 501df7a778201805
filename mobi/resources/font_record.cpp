#include "resources/font_record.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "decoding/chinese_code.h"

namespace {

constexpr std::uint32_t kZlibFlag = 1;
constexpr std::uint32_t kObfuscatedFlag = 2;
constexpr std::size_t kFontHeaderSize = 24;

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

std::string_view FontExtension(std::span<const std::uint8_t> font) {
  if (StartsWith(font, std::string_view("\0\1\0\0", 4)) || StartsWith(font, "true") ||
      StartsWith(font, "ttcf"))
    return "ttf";
  if (StartsWith(font, "OTTO"))
    return "otf";
  return {};
}

// Inflates a zlib stream into exactly `size` bytes; nothing when the stream is
// damaged, ends short or would run past `size`.
std::optional<std::vector<std::uint8_t>> Inflate(std::span<const std::uint8_t> in,
                                                 std::uint32_t size) {
  std::vector<std::uint8_t> out(size);
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK)
    return std::nullopt;
  stream.next_in = const_cast<Bytef *>(in.data());
  stream.avail_in = static_cast<uInt>(std::min<std::size_t>(in.size(), UINT_MAX));
  stream.next_out = out.data();
  stream.avail_out = size;
  const int result = inflate(&stream, Z_FINISH);
  const bool whole = result == Z_STREAM_END && stream.total_out == size;
  inflateEnd(&stream);
  if (!whole)
    return std::nullopt;
  return out;
}

struct FontHeader {
  std::uint32_t decodedSize = 0;
  std::uint32_t flags = 0;
  ByteReader data;
  ByteReader key;
};

std::optional<FontHeader> ReadFontHeader(const ByteReader &record) {
  if (!IsFontRecord(record) || !record.Holds(0, kFontHeaderSize))
    return std::nullopt;
  FontHeader header;
  header.decodedSize = *record.U32BE(4);
  header.flags = *record.U32BE(8);
  const std::uint32_t dataOffset = *record.U32BE(12);
  if (header.decodedSize == 0 || header.decodedSize > kMaxFontSize || dataOffset > record.Size())
    return std::nullopt;
  header.data = record.From(dataOffset);
  if (header.flags & kObfuscatedFlag) {
    const auto key = record.Slice(*record.U32BE(20), *record.U32BE(16));
    if (!key || key->Size() == 0)
      return std::nullopt;
    header.key = *key;
  }
  return header;
}

// The stored data with its first `count` bytes XORed with the key, then
// inflated when the record says so.
std::optional<std::vector<std::uint8_t>> Unpack(const FontHeader &header, std::uint64_t count) {
  std::vector<std::uint8_t> data(header.data.Bytes().begin(), header.data.Bytes().end());
  const auto key = header.key.Bytes();
  if (header.flags & kObfuscatedFlag)
    for (std::size_t i = 0; i < data.size() && i < count; ++i)
      data[i] ^= key[i % key.size()];
  if (header.flags & kZlibFlag)
    return Inflate(data, header.decodedSize);
  if (data.size() < header.decodedSize)
    return std::nullopt;
  data.resize(header.decodedSize);
  return data;
}

} // namespace

bool IsFontRecord(const ByteReader &record) { return StartsWith(record.Bytes(), "FONT"); }

std::optional<FontFile> DecodeFontRecord(const ByteReader &record) {
  const std::optional<FontHeader> header = ReadFontHeader(record);
  if (!header)
    return std::nullopt;
  // 1040 bytes is what most writers obfuscate; others cover 1024 bytes, or
  // 52 key lengths. Only the right count inflates, and the signature checks it
  // for uncompressed data.
  const std::array<std::uint64_t, 3> counts = {1040, 1024, 52 * std::uint64_t{header->key.Size()}};
  const std::size_t tries = header->flags & kObfuscatedFlag ? counts.size() : 1;
  for (std::size_t i = 0; i < tries; ++i) {
    std::optional<std::vector<std::uint8_t>> font = Unpack(*header, counts[i]);
    if (!font)
      continue;
    const std::string_view extension = FontExtension(*font);
    if (!extension.empty())
      return FontFile{std::move(*font), extension};
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// The naming table

namespace {

constexpr std::uint16_t kFamilyNameId = 1;
constexpr std::uint16_t kTypographicFamilyNameId = 16;
constexpr std::uint16_t kPlatformUnicode = 0;
constexpr std::uint16_t kPlatformMac = 1;
constexpr std::uint16_t kPlatformWindows = 3;
constexpr std::uint16_t kWindowsEnglish = 0x409;

// The font's table directory: the file itself, or the first face of a collection.
std::optional<ByteReader> FirstFace(const ByteReader &file) {
  if (!StartsWith(file.Bytes(), "ttcf"))
    return file;
  const auto offset = file.U32BE(12);
  if (!offset || *offset > file.Size())
    return std::nullopt;
  return file.From(*offset);
}

std::optional<ByteReader> NameTable(const ByteReader &file) {
  const std::optional<ByteReader> face = FirstFace(file);
  if (!face)
    return std::nullopt;
  const std::uint16_t tables = face->U16BE(4).value_or(0);
  for (std::uint16_t i = 0; i < tables; ++i) {
    const std::size_t entry = 12 + std::size_t{i} * 16;
    const auto tag = face->Slice(entry, 4);
    if (!tag || !face->Holds(entry, 16))
      return std::nullopt;
    if (StartsWith(tag->Bytes(), "name"))
      return file.Slice(*face->U32BE(entry + 8), *face->U32BE(entry + 12));
  }
  return std::nullopt;
}

// UTF-16BE text as UTF-8, or the ASCII bytes of a Mac Roman name.
std::string NameText(std::span<const std::uint8_t> bytes, bool utf16) {
  std::string text;
  if (!utf16) {
    for (std::uint8_t c : bytes)
      if (c >= 0x20 && c < 0x7F)
        text.push_back(static_cast<char>(c));
    return text;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1]);
    if (unit < 0x20)
      continue;
    char utf8[3];
    text.append(utf8, static_cast<std::size_t>(ChineseCode::UnicodeToUTF_8(utf8, &unit)));
  }
  return text;
}

// How well a name record suits: Windows English first, then any Unicode
// name, then a Mac one; 0 for one that is not a family name.
int NameRank(std::uint16_t platform, std::uint16_t language, std::uint16_t nameId) {
  if (nameId != kFamilyNameId && nameId != kTypographicFamilyNameId)
    return 0;
  const int legacyFamily = nameId == kFamilyNameId ? 1 : 0;
  if (platform == kPlatformWindows)
    return (language == kWindowsEnglish ? 6 : 4) + legacyFamily;
  if (platform == kPlatformUnicode)
    return 4 + legacyFamily;
  return platform == kPlatformMac ? 2 + legacyFamily : 0;
}

} // namespace

std::string FontFamilyName(std::span<const std::uint8_t> font) {
  const std::optional<ByteReader> table = NameTable(ByteReader(font));
  if (!table)
    return {};
  const std::uint16_t count = table->U16BE(2).value_or(0);
  const std::uint16_t stringsAt = table->U16BE(4).value_or(0);
  std::string best;
  int bestRank = 0;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + std::size_t{i} * 12;
    if (!table->Holds(entry, 12))
      break;
    const std::uint16_t platform = *table->U16BE(entry);
    const int rank = NameRank(platform, *table->U16BE(entry + 4), *table->U16BE(entry + 6));
    const auto bytes = table->Slice(std::size_t{stringsAt} + *table->U16BE(entry + 10),
                                    *table->U16BE(entry + 8));
    if (rank <= bestRank || !bytes)
      continue;
    std::string text = NameText(bytes->Bytes(), platform != kPlatformMac);
    if (!text.empty()) {
      best = std::move(text);
      bestRank = rank;
    }
  }
  return best;
}
