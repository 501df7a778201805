#include "common/text_util.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace textutil {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80-0x9F; the rest of the upper half is Latin-1.
constexpr std::array<char32_t, 32> kWindows1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Most book text is ASCII: runs of it are copied or skipped whole.
std::size_t AsciiRunLength(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80)
    ++at;
  return at;
}

} // namespace

std::size_t Utf8SequenceLength(std::string_view bytes) {
  if (bytes.empty())
    return 0;
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF; // range of the second byte
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
  if (bytes.size() < length)
    return 0;
  const unsigned char second = static_cast<unsigned char>(bytes[1]);
  if (second < low || second > high)
    return 0;
  for (std::size_t k = 2; k < length; ++k)
    if (!IsContinuation(static_cast<unsigned char>(bytes[k])))
      return 0;
  return length;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    bytes.remove_prefix(AsciiRunLength(bytes));
    if (bytes.empty())
      break;
    const std::size_t length = Utf8SequenceLength(bytes);
    if (length == 0)
      return false;
    bytes.remove_prefix(length);
  }
  return true;
}

int EncodeUtf8(char32_t code, char *out) {
  if ((code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
    code = kReplacement;
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | code >> 6);
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | code >> 12);
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | code >> 18);
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

void AppendUtf8(std::string &out, char32_t code) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(EncodeUtf8(code, bytes)));
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  while (!bytes.empty()) {
    const std::size_t ascii = AsciiRunLength(bytes);
    out.append(bytes.substr(0, ascii));
    if (ascii == bytes.size())
      break;
    const unsigned char byte = static_cast<unsigned char>(bytes[ascii]);
    AppendUtf8(out, byte < 0xA0 ? kWindows1252High[byte - 0x80] : char32_t{byte});
    bytes.remove_prefix(ascii + 1);
  }
  return out;
}

std::optional<std::string_view> CanonicalDecimal(std::string_view digits) {
  if (!IsDigits(digits))
    return std::nullopt;
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? digits.substr(digits.size() - 1) : digits.substr(first);
}

std::optional<std::uint64_t> DecimalValue(std::string_view digits) {
  std::uint64_t value = 0;
  const char *end = digits.data() + digits.size();
  const auto [stop, error] = std::from_chars(digits.data(), end, value);
  if (!IsDigits(digits) || error != std::errc() || stop != end)
    return std::nullopt;
  return value;
}

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  const char lower = Lower(c);
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

} // namespace

std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int high = text[i] == '%' && i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
    if (low >= 0) {
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

std::string XmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&':
      out += "&amp;";
      break;
    case '<':
      out += "&lt;";
      break;
    case '>':
      out += "&gt;";
      break;
    case '"':
      out += "&quot;";
      break;
    default:
      if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r')
        out += c;
    }
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char &c : lower)
    c = Lower(c);
  return lower;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsHtmlSpace(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsHtmlSpace(text.back()))
    text.remove_suffix(1);
  return text;
}

std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name) {
  std::optional<std::string_view> found;
  ForEachAttribute(tag, [&](std::string_view attribute, std::string_view value) {
    if (!found && attribute.size() == name.size() && StartsWithNoCase(attribute, name))
      found = value;
  });
  return found;
}

} // namespace textutil
