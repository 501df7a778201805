// The book's own table of contents: its NCX entries as a tree, flattened in
// book order, and written into the HTML as a hidden <nav> list that any
// reader of the file (the program's outline among them) can follow.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/book_index.h"
#include "tarn_mobi.h"

inline constexpr std::string_view kContentsNavId = MOBI_CONTENTS_NAV_ID;

struct ContentsEntry {
  std::string label;   // UTF-8, unescaped
  std::uint32_t depth = 0; // nesting in the contents tree, 0 = top level
  std::string target;  // id of the element it leads to; empty when none
};

// The id an NCX entry leads to, or empty when it leads nowhere.
using ContentsTarget = std::function<std::string(const NcxEntry &)>;

// Every entry of `ncx` in book order (each entry before its children,
// siblings in index order), nested by the parent fields. An entry whose parent
// is missing, itself or not shallower than it is a top-level entry, so no
// cycle can form. Nesting deeper than a reader could use is flattened.
std::vector<ContentsEntry> ContentsFromNcx(const std::vector<NcxEntry> &ncx,
                                           const ContentsTarget &target);

// <nav id="bookconv-contents" style="display:none"><ol><li><a href="#ID">
// LABEL</a><ol>…children…</ol></li>…</ol></nav>; empty when there are no entries.
std::string ContentsNav(const std::vector<ContentsEntry> &entries);

// Where the list goes in a book's HTML: before its last </body>, or at the
// end when there is none.
std::size_t ContentsPlace(std::string_view html);

// MOBI6: the text positions the entries name, each of which gets a filepos
// anchor, and the contents leading to those anchors ("fileposN").
std::vector<std::uint32_t> ContentsPositions(const std::vector<NcxEntry> &ncx);
std::vector<ContentsEntry> FileposContents(const std::vector<NcxEntry> &ncx);
