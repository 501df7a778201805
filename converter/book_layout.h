// Turns the library's HTML into what the renderer lays out the way the book
// means it: its page breaks as pages (or, in a dictionary, as the boundaries
// between entries), the MOBI paragraph attributes as style, and a default
// style sheet that gives the page a book's type size and line length.
#pragma once

#include <string>
#include <string_view>

namespace layout {

// The element a page break of the book becomes. Empty, so a piece that
// starts at one can leave it out.
inline constexpr std::string_view kPageBreak =
    "<div class=\"bookconv-pagebreak\" style=\"page-break-before:always\"></div>";
// The element a dictionary's separator between two entries becomes.
inline constexpr std::string_view kEntryBreak = "<div class=\"bookconv-entry\"></div>";

// Rewrites `html` as described above. A page break with nothing to show since
// the last one (or since the start of the body), or none after it, is
// dropped: it would only leave an empty page. True when the book was laid out
// as a dictionary.
bool LayOutBook(std::string &html);

} // namespace layout
