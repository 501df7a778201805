#include "markup/html_entities.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <utility>

namespace {

constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kNamed = {{
    {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\xC2\xA0"}}};
// Longer than any reference this decoder knows.
constexpr std::size_t kLongestReference = 10;

void AppendUtf8(std::string &out, std::uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The text a reference `name` (between "&" and ";") stands for.
bool DecodeReference(std::string_view name, std::string &out) {
  for (const auto &[entity, text] : kNamed)
    if (name == entity) {
      out += text;
      return true;
    }
  if (name.size() < 2 || name[0] != '#')
    return false;
  const bool hex = name[1] == 'x' || name[1] == 'X';
  const std::string_view digits = name.substr(hex ? 2 : 1);
  std::uint32_t code = 0;
  const auto [end, error] =
      std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || code == 0 ||
      code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return false;
  AppendUtf8(out, code);
  return true;
}

} // namespace

std::string UnescapeHtmlEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::size_t semicolon = text[at] == '&' ? text.find(';', at + 1) : std::string_view::npos;
    if (semicolon != std::string_view::npos && semicolon - at <= kLongestReference &&
        DecodeReference(text.substr(at + 1, semicolon - at - 1), out)) {
      at = semicolon;
      continue;
    }
    out += text[at];
  }
  return out;
}

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    default: out += c;
    }
  }
  return out;
}
