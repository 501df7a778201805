// Character references in the book's own short texts (contents labels, guide
// titles), and the escaping of text written into HTML.
#pragma once

#include <string>
#include <string_view>

// `text` with its character references decoded: the five XML names, &nbsp;,
// and decimal or hexadecimal references. Anything else stays as it is.
std::string UnescapeHtmlEntities(std::string_view text);

// `text` safe inside an element or a double-quoted attribute.
std::string EscapeHtml(std::string_view text);
