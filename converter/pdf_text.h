// Text conversions the finishing step needs: the book's metadata bytes and
// fragments of the unpacked HTML, both turned into plain UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace finishing {

// The book's own title or author as UTF-8. The library hands them over in the
// book's encoding, UTF-8 (65001) or Windows-1252 (1252); text that is not
// well-formed UTF-8 can only be the latter. Control characters become spaces,
// runs of spaces shrink to one, and the ends are trimmed.
std::string BookTextToUtf8(std::string_view bytes);

// The visible text of an HTML fragment: tags dropped, character references
// decoded, white space collapsed and trimmed.
std::string HtmlFragmentToText(std::string_view html);

} // namespace finishing
