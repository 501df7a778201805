#include "decoding/chinese_code.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/text_util.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Both directions of the GBK table: every pair with a lead byte of 0x80 or
// above, and for every UTF-16 unit its pair (0 when there is none).
class GbkTable {
public:
  static const GbkTable &Get() {
    static const GbkTable table;
    return table;
  }

  char16_t Unit(std::uint8_t lead, std::uint8_t trail) const {
    return units_[(lead - 0x80u) * 256u + trail];
  }
  std::uint16_t Pair(char16_t unit) const { return pairs_[unit]; }

private:
  GbkTable() : pairs_(65536, 0) {
    units_.fill(kReplacement);
    iconv_t cd = iconv_open("UTF-16LE", "CP936");
    if (cd == reinterpret_cast<iconv_t>(-1))
      return; // no table: every pair stays U+FFFD
    for (unsigned lead = 0x80; lead <= 0xFF; ++lead)
      for (unsigned trail = 0; trail <= 0xFF; ++trail)
        Learn(cd, static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail));
    iconv_close(cd);
  }

  // A pair counts only when iconv takes both bytes as one character of one
  // unit; a lead byte the code page reads alone (0x80) does not pair.
  void Learn(iconv_t cd, std::uint8_t lead, std::uint8_t trail) {
    char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    unsigned char out[4] = {};
    char *inPtr = in;
    char *outPtr = reinterpret_cast<char *>(out);
    std::size_t inLeft = 2, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
        inLeft != 0 || outLeft != 2)
      return;
    const char16_t unit = static_cast<char16_t>(out[0] | out[1] << 8);
    if (unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF))
      return;
    units_[(lead - 0x80u) * 256u + trail] = unit;
    if (pairs_[unit] == 0)
      pairs_[unit] = static_cast<std::uint16_t>(lead << 8 | trail);
  }

  std::array<char16_t, 128 * 256> units_{};
  std::vector<std::uint16_t> pairs_;
};

std::uint8_t ByteAt(const char *text, int i) { return static_cast<std::uint8_t>(text[i]); }

bool IsGb2312RowByte(std::uint8_t byte) { return byte >= 0xA1 && byte <= 0xFE; }

} // namespace

void ChineseCode::UTF_8ToUnicode(char16_t *unit, const char *text) {
  const unsigned t0 = ByteAt(text, 0);
  if (t0 < 0x80) {
    *unit = static_cast<char16_t>(t0);
  } else if (t0 < 0xE0) {
    *unit = static_cast<char16_t>((t0 & 0x1F) << 6 | (ByteAt(text, 1) & 0x3F));
  } else {
    *unit = static_cast<char16_t>((t0 & 0x0F) << 12 | (ByteAt(text, 1) & 0x3F) << 6 |
                                  (ByteAt(text, 2) & 0x3F));
  }
}

int ChineseCode::UnicodeToUTF_8(char *out, const char16_t *unit) {
  return textutil::EncodeUtf8(*unit, out);
}

int ChineseCode::Gb2312ToUnicode(char16_t *unit, const char *text) {
  const std::uint8_t lead = ByteAt(text, 0);
  *unit = lead < 0x80 ? kReplacement : GbkTable::Get().Unit(lead, ByteAt(text, 1));
  return 1;
}

int ChineseCode::UnicodeToGB2312(char *out, char16_t unit) {
  if (unit < 0x80) {
    out[0] = static_cast<char>(unit);
    return 1;
  }
  const std::uint16_t pair = GbkTable::Get().Pair(unit);
  if (pair == 0) {
    out[0] = '?';
    return 1;
  }
  out[0] = static_cast<char>(pair >> 8);
  out[1] = static_cast<char>(pair & 0xFF);
  return 2;
}

void ChineseCode::GB2312ToUTF_8(std::string &result, const char *text, int len) {
  std::string built;
  built.reserve(static_cast<std::size_t>(len > 0 ? len : 0) * 3 / 2);
  for (int i = 0; i < len && text[i] != '\0';) {
    const std::uint8_t byte = ByteAt(text, i);
    if (byte < 0x80) {
      built.push_back(static_cast<char>(byte));
      ++i;
      continue;
    }
    const bool hasPartner = i + 1 < len && text[i + 1] != '\0';
    char16_t unit = kReplacement;
    if (hasPartner)
      Gb2312ToUnicode(&unit, text + i);
    textutil::AppendUtf8(built, unit);
    // A lead byte that does not pair with an ASCII byte leaves that byte in
    // place, so no markup character is swallowed by a stray high byte.
    i += hasPartner && !(unit == kReplacement && ByteAt(text, i + 1) < 0x80) ? 2 : 1;
  }
  result.swap(built);
}

void ChineseCode::UTF_8ToGB2312(std::string &result, const char *text, int len) {
  std::string built;
  for (int i = 0; i < len && text[i] != '\0';) {
    const std::uint8_t lead = ByteAt(text, i);
    const int length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (len - i < length)
      break;
    char bytes[2];
    char16_t unit = kReplacement;
    if (length < 4)
      UTF_8ToUnicode(&unit, text + i);
    built.append(bytes, static_cast<std::size_t>(UnicodeToGB2312(bytes, unit)));
    i += length;
  }
  result.swap(built);
}

void ChineseCode::Windows1252ToUTF_8(std::string &result, const char *text, int len) {
  result = textutil::Windows1252ToUtf8(
      std::string_view(text, static_cast<std::size_t>(len > 0 ? len : 0)));
}

bool ChineseCode::IsTextUTF8(const char *text, int len) {
  const std::string_view bytes(text, static_cast<std::size_t>(len > 0 ? len : 0));
  return textutil::IsWellFormedUtf8(bytes) && std::any_of(bytes.begin(), bytes.end(), [](char c) {
           return static_cast<std::uint8_t>(c) >= 0x80;
         });
}

bool ChineseCode::PairsIntoGB2312(const char *text, int len) {
  for (int i = 0; i < len;) {
    if (ByteAt(text, i) < 0x80) {
      ++i;
      continue;
    }
    if (i + 1 >= len || !IsGb2312RowByte(ByteAt(text, i)) || !IsGb2312RowByte(ByteAt(text, i + 1)))
      return false;
    i += 2;
  }
  return true;
}
