// Text helpers the library and the program share: UTF-8, Windows-1252 and the
// decimal numbers of filepos links. Linked statically into both; nothing here
// is exported.
#pragma once

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

} // namespace textutil
