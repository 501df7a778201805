#include "chinese_code.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <vector>

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

// Windows-1252 bytes 0x80-0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::uint8_t ByteAt(const char *text, int i) { return static_cast<std::uint8_t>(text[i]); }

bool IsContinuation(std::uint8_t byte) { return (byte & 0xC0) == 0x80; }

void AppendUTF_8(std::string &result, char16_t unit) {
  char bytes[3];
  result.append(bytes, static_cast<std::size_t>(ChineseCode::UnicodeToUTF_8(bytes, &unit)));
}

// Length of the well-formed UTF-8 sequence at `i`, or 0 when it is not one.
int WellFormedLength(const char *text, int len, int i) {
  const std::uint8_t lead = ByteAt(text, i);
  int length;
  std::uint8_t low = 0x80, high = 0xBF; // range of the second byte
  if (lead < 0x80)
    return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0)
      low = 0xA0; // overlong below U+0800
    if (lead == 0xED)
      high = 0x9F; // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0)
      low = 0x90; // overlong below U+10000
    if (lead == 0xF4)
      high = 0x8F; // past U+10FFFF
  } else {
    return 0;
  }
  if (len - i < length)
    return 0;
  const std::uint8_t second = ByteAt(text, i + 1);
  if (second < low || second > high)
    return 0;
  for (int k = 2; k < length; ++k)
    if (!IsContinuation(ByteAt(text, i + k)))
      return 0;
  return length;
}

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
  char16_t u = *unit;
  if (u >= 0xD800 && u <= 0xDFFF)
    u = kReplacement; // half a surrogate pair is no character
  if (u < 0x80) {
    out[0] = static_cast<char>(u);
    return 1;
  }
  if (u < 0x800) {
    out[0] = static_cast<char>(0xC0 | u >> 6);
    out[1] = static_cast<char>(0x80 | (u & 0x3F));
    return 2;
  }
  out[0] = static_cast<char>(0xE0 | u >> 12);
  out[1] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
  out[2] = static_cast<char>(0x80 | (u & 0x3F));
  return 3;
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
    AppendUTF_8(built, unit);
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
  std::string built;
  built.reserve(static_cast<std::size_t>(len > 0 ? len : 0) * 3 / 2);
  for (int i = 0; i < len; ++i) {
    const std::uint8_t byte = ByteAt(text, i);
    if (byte < 0x80)
      built.push_back(static_cast<char>(byte));
    else
      AppendUTF_8(built, byte < 0xA0 ? kWindows1252High[byte - 0x80] : char16_t{byte});
  }
  result.swap(built);
}

bool ChineseCode::IsTextUTF8(const char *text, int len) {
  bool sawHighByte = false;
  for (int i = 0; i < len;) {
    const int length = WellFormedLength(text, len, i);
    if (length == 0)
      return false;
    sawHighByte = sawHighByte || length > 1;
    i += length;
  }
  return sawHighByte;
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
