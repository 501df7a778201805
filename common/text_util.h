// Text helpers the library and the program share: UTF-8, Windows-1252, the
// decimal numbers of filepos links, and the letter case, white space and
// attributes of HTML tags. Linked statically into both; nothing here
// is exported.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace textutil {

// Length of the well-formed UTF-8 sequence at the start of `bytes` (shortest
// form, no surrogate, nothing past U+10FFFF), or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view bytes);
bool IsWellFormedUtf8(std::string_view bytes);

// Writes the shortest UTF-8 form of `code` (a surrogate or a value past
// U+10FFFF becomes U+FFFD) to `out`, which holds 4 bytes; returns its length.
int EncodeUtf8(char32_t code, char *out);
void AppendUtf8(std::string &out, char32_t code);

// Windows-1252 text as UTF-8. The five bytes the code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD, in the book's text and in its
// metadata alike.
std::string Windows1252ToUtf8(std::string_view bytes);

// A decimal number without its leading zeros ("0" when it is all zeros), the
// form in which filepos numbers name anchors; nothing when `digits` is empty
// or holds anything but 0-9.
std::optional<std::string_view> CanonicalDecimal(std::string_view digits);
// The value of a decimal number; nothing when it is not one or exceeds 64 bits.
std::optional<std::uint64_t> DecimalValue(std::string_view digits);

// ASCII letter case and white space, as HTML and CSS names use them: other
// bytes, UTF-8 ones included, stay as they are.
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string Lower(std::string_view text);
constexpr bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
// Whether `text` begins with `prefix` in any letter case.
inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}
// `text` with its %XX escapes decoded, as a file address writes them; a
// malformed escape stays as it is.
std::string PercentDecoded(std::string_view text);

// `text` for XML or HTML character data or a quoted attribute: "&", "<", ">"
// and '"' as entities; control characters that XML 1.0 forbids left out.
std::string XmlEscaped(std::string_view text);

// `text` without the white space around it.
std::string_view Trimmed(std::string_view text);
inline bool IsBlank(std::string_view text) { return Trimmed(text).empty(); }

// Calls `visit(name, value)` for every attribute of the start tag `tag` (from
// its "<" on), names as written, values without their quotes and with their
// entities left alone; an attribute without a value gets an empty one. An
// unquoted value ends at white space, ">" or "/>"; an unclosed quote runs to
// the end of the tag.
template <typename Visit> void ForEachAttribute(std::string_view tag, Visit visit) {
  const auto endsName = [](char c) { return IsHtmlSpace(c) || c == '=' || c == '>' || c == '/'; };
  const auto skipSpaces = [&](std::size_t at) {
    while (at < tag.size() && IsHtmlSpace(tag[at]))
      ++at;
    return at;
  };
  const std::size_t tagEnd = !tag.empty() && tag.back() == '>' ? tag.size() - 1 : tag.size();
  std::size_t at = 1;
  while (at < tagEnd && !endsName(tag[at]))
    ++at;
  while (at < tagEnd) {
    while (at < tagEnd && (IsHtmlSpace(tag[at]) || tag[at] == '/'))
      ++at;
    const std::size_t nameStart = at;
    while (at < tagEnd && !endsName(tag[at]))
      ++at;
    if (at == nameStart)
      return;
    const std::string_view name = tag.substr(nameStart, at - nameStart);
    std::string_view value;
    at = skipSpaces(at);
    if (at < tagEnd && tag[at] == '=') {
      at = skipSpaces(at + 1);
      if (at < tagEnd && (tag[at] == '"' || tag[at] == '\'')) {
        const std::size_t end = std::min(tag.find(tag[at], at + 1), tagEnd);
        value = tag.substr(at + 1, end - at - 1);
        at = end + 1;
      } else {
        const std::size_t valueStart = at;
        while (at < tagEnd && !IsHtmlSpace(tag[at]) && !(tag[at] == '/' && at + 1 == tagEnd))
          ++at;
        value = tag.substr(valueStart, at - valueStart);
      }
    }
    visit(name, value);
  }
}

// The value of the first attribute named `name` (in any letter case) in the
// start tag `tag`; none when the tag has no such attribute.
std::optional<std::string_view> Attribute(std::string_view tag, std::string_view name);

} // namespace textutil
