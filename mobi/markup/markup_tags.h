// Finding the tags of the book's markup in linear time.
#pragma once

#include <string_view>

#include "common/text_util.h"

// The first "<" or ">" in `text` at or after `from`, or npos. One plain loop:
// find_first_of with a set looks up the set once for every byte it passes.
inline std::size_t FindAngleBracket(std::string_view text, std::size_t from) {
  for (; from < text.size(); ++from)
    if (text[from] == '<' || text[from] == '>')
      return from;
  return std::string_view::npos;
}

// Whether `tag` holds `name` (lower-case letters) in any letter case: a quick
// test before a tag's full pattern, which most tags never need.
inline bool TagMentions(std::string_view tag, std::string_view name) {
  const char first[] = {name[0], static_cast<char>(name[0] - 'a' + 'A'), '\0'};
  for (std::size_t at = tag.find_first_of(first); at != std::string_view::npos;
       at = tag.find_first_of(first, at + 1))
    if (textutil::StartsWithNoCase(tag.substr(at), name))
      return true;
  return false;
}

// Calls `visit(tag)` for every stretch of `text` that runs from a "<" to the
// first ">" after it with no "<" between: every place where a whole tag can
// stand. A pattern that matches whole tags matches only such stretches, so
// matching each one on its own finds the same tags as searching the text,
// without a search that backtracks over a long unclosed stretch again and
// again.
template <typename Visit> void ForEachClosedTag(std::string_view text, Visit visit) {
  // The text between tags, most of a book, is passed by memchr; only a
  // tag's own bytes are looked at one by one, going back to its "<".
  for (std::size_t open = text.find('<'); open != std::string_view::npos;) {
    const std::size_t close = text.find('>', open + 1);
    if (close == std::string_view::npos)
      return;
    const std::size_t last = text.rfind('<', close);
    visit(text.substr(last, close + 1 - last));
    open = text.find('<', close + 1);
  }
}
