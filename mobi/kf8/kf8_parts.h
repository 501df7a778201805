// Flow 0 of a KF8 text rebuilt into its parts (the book's XHTML files): each
// part's skeleton with its fragments inserted, as the SKEL and FRAG indexes
// describe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "index/book_index.h"

struct Kf8Part {
  std::string text;        // the assembled markup
  std::uint32_t start = 0; // where the part begins in assembled flow 0
  // One past its last byte: start + text size.
  std::uint32_t End() const { return start + static_cast<std::uint32_t>(text.size()); }
};

// The parts in spine order. Fragments go in table order, each at its insert
// position clamped into the part and never before the fragment inserted before
// it; a position inside a tag moves behind the tag its selector names. Nothing
// when the tables do not fit the text: a skeleton outside flow 0, or more
// fragments claimed than the fragment table holds.
std::optional<std::vector<Kf8Part>> AssembleParts(std::string_view flow0,
                                                  const std::vector<SkeletonEntry> &skeletons,
                                                  const std::vector<FragmentEntry> &fragments);

// The aid a fragment selector names ("P-//*[@aid='0K']" gives "0K"); empty
// when the selector has none.
std::string_view SelectorAid(std::string_view selector);
