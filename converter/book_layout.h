// Turns the library's HTML into what the renderer lays out the way the book
// means it: its page breaks as pages (or, in a dictionary, as the boundaries
// between entries), the MOBI paragraph attributes as style, and a default
// style sheet that gives the page a book's type size and line length.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "html_tags.h"

namespace layout {

// The element a page break of the book becomes. Empty, so a piece that starts
// or ends at one can keep it without its break.
inline constexpr std::string_view kPageBreak =
    "<div class=\"bookconv-pagebreak\" style=\"page-break-before:always\"></div>";
// The element a dictionary's separator between two entries becomes.
inline constexpr std::string_view kEntryBreak = "<div class=\"bookconv-entry\"></div>";

// Whether the book's guide opens a look-up: a dictionary the library did not
// know as one.
bool HasLookUpReference(std::string_view html, const std::vector<finishing::Tag> &tags);

// What laying out `html` (whose tags are `tags`) as described above changes,
// for ApplyEdits. A page break with nothing to show since the last one (or
// since the start of the body), or none after it, is dropped: it would only
// leave an empty page. `coverPageFirst`: a cover page goes first in the body,
// so a page break at its start has something before it.
std::vector<finishing::Edit> LayoutEdits(std::string_view html,
                                         const std::vector<finishing::Tag> &tags, bool dictionary,
                                         bool coverPageFirst);

} // namespace layout
