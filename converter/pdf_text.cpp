#include "pdf_text.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "common/text_util.h"

namespace finishing {

namespace {

bool IsSpaceOrControl(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

// Control characters and white space become single spaces; the ends are trimmed.
std::string CollapseSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pendingSpace = false;
  for (unsigned char byte : text) {
    if (IsSpaceOrControl(byte)) {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace)
      out += ' ';
    pendingSpace = false;
    out += static_cast<char>(byte);
  }
  return out;
}

struct NamedEntity {
  std::string_view name;
  char32_t code;
};

constexpr std::array<NamedEntity, 24> kNamedEntities = {{
    {"amp", U'&'},     {"lt", U'<'},      {"gt", U'>'},      {"quot", U'"'},
    {"apos", U'\''},   {"nbsp", U' '},    {"shy", 0xAD},     {"copy", 0xA9},
    {"reg", 0xAE},     {"mdash", 0x2014}, {"ndash", 0x2013}, {"hellip", 0x2026},
    {"lsquo", 0x2018}, {"rsquo", 0x2019}, {"ldquo", 0x201C}, {"rdquo", 0x201D},
    {"laquo", 0xAB},   {"raquo", 0xBB},   {"middot", 0xB7},  {"bull", 0x2022},
    {"eacute", 0xE9},  {"egrave", 0xE8},  {"auml", 0xE4},    {"ouml", 0xF6},
}};

bool IsUsableCodePoint(unsigned long code) {
  return code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
}

// Decodes the character reference that starts at text[0] ('&'); returns the
// bytes it used, or 0 when it is not one this step knows.
std::size_t DecodeReference(std::string_view text, std::string &out) {
  const std::size_t semicolon = text.find(';');
  if (semicolon == std::string_view::npos || semicolon < 2 || semicolon > 10)
    return 0;
  const std::string name(text.substr(1, semicolon - 1));
  if (name[0] == '#') {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string digits = name.substr(hex ? 2 : 1);
    if (digits.empty())
      return 0;
    char *end = nullptr;
    const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || !IsUsableCodePoint(code))
      return 0;
    textutil::AppendUtf8(out, static_cast<char32_t>(code));
    return semicolon + 1;
  }
  for (const NamedEntity &entity : kNamedEntities)
    if (entity.name == name) {
      textutil::AppendUtf8(out, entity.code);
      return semicolon + 1;
    }
  return 0;
}

// Inline tags join the words around them; every other tag ends a word.
bool IsInlineTag(std::string_view tag) {
  if (!tag.empty() && tag[0] == '/')
    tag.remove_prefix(1);
  std::string name;
  for (char c : tag) {
    if (!std::isalnum(static_cast<unsigned char>(c)))
      break;
    name += textutil::Lower(c);
  }
  static constexpr std::array<std::string_view, 15> kInline = {
      "a", "b", "i", "u", "s", "em", "strong", "font", "span", "small", "big", "sup", "sub",
      "tt", "code"};
  for (std::string_view inlineName : kInline)
    if (name == inlineName)
      return true;
  return false;
}

} // namespace

std::string BookTextToUtf8(std::string_view bytes) {
  return CollapseSpaces(textutil::IsWellFormedUtf8(bytes) ? std::string(bytes)
                                                          : textutil::Windows1252ToUtf8(bytes));
}

std::string HtmlFragmentToText(std::string_view html) {
  std::string text;
  text.reserve(html.size());
  std::size_t i = 0;
  while (i < html.size()) {
    if (html[i] == '<') {
      const std::size_t close = html.find('>', i);
      if (close == std::string_view::npos)
        break;
      if (!IsInlineTag(html.substr(i + 1, close - i - 1)))
        text += ' ';
      i = close + 1;
    } else if (html[i] == '&') {
      const std::size_t used = DecodeReference(html.substr(i), text);
      if (used == 0)
        text += '&';
      i += used == 0 ? 1 : used;
    } else {
      text += html[i++];
    }
  }
  return BookTextToUtf8(text);
}

} // namespace finishing
