// Prepares the unpacked HTML for the finishing step, before it is rendered.
//
// The renderer lays the book out but turns every link into an address in the
// working folder, and it reports no positions. So every place a link or a
// bookmark may jump to gets a marker: an empty link one pixel in size, taken
// out of the flow so the layout does not move, whose address names the place.
// The renderer draws each marker as a link annotation on the page where the
// place lands; the finisher reads them back as destinations and drops them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "html_tags.h"
#include "tarn_mobi.h"

namespace finishing {

// Scheme of the markers' addresses: "bookconv-mark:" then the marker's key.
inline constexpr std::string_view kMarkScheme = "bookconv-mark:";

// Scheme of the book's links to its own places: "bookconv-link:" then the
// key of the marker at the target. Every engine passes an address of a
// scheme it does not know through as it is, where it would resolve "#ID"
// within its own piece of the book, or drop it.
inline constexpr std::string_view kLinkScheme = "bookconv-link:";

// Key of the marker at the anchor "fileposN", given N's digits.
std::string AnchorMarkKey(std::string_view digits);
// Key of the marker at the element whose id is `id`: the anchor's key for
// "fileposN" (leading zeros aside), else a key of letters, digits and "_".
std::string IdMarkKey(std::string_view id);

// The id of the library's contents list.
inline constexpr std::string_view kContentsNavId = MOBI_CONTENTS_NAV_ID;

struct OutlineEntry {
  std::string title; // UTF-8
  // Nesting in the book: an entry nests under the nearest earlier entry of
  // smaller depth. Only the order of depths matters, not their values.
  int depth = 0;
  std::string markKey; // the marker that places the entry
};

struct FinishPlan {
  // The book's contents list, else its contents page, else its headings.
  std::vector<OutlineEntry> outline;
  // The marker where reading starts; empty when the book names no start.
  std::string startMarkKey;
  // Page numbers: whether the pages carry them (a fixed layout's do not),
  // and the first page, counted from 0, that does (a cover page does not).
  bool numberPages = true;
  std::size_t firstNumberedPage = 0;
};

// The library's cover: its picture, relative to the HTML file's folder, when
// that file was written (else empty), and the pictures of the book written
// with the same bytes under other names.
struct BookCover {
  BookCover(std::string image = {}, std::vector<std::string> copies = {})
      : image(std::move(image)), copies(std::move(copies)) {}
  std::string image;
  std::vector<std::string> copies;
};

struct Preparation {
  FinishPlan plan;
  std::vector<Edit> edits; // for ApplyEdits
  bool coverPage = false;  // whether the edits put a cover page first
};

// What preparing `html` (the library's UTF-8 output, whose tags are `tags`)
// changes, and the outline. Every anchor "fileposN" and every element whose
// id a "#" link names gets a marker, and so does the element whose id is
// `startId`, where reading starts; every "#ID" link becomes a link of
// kLinkScheme. A cover page showing `cover` goes first when the book shows
// neither its picture nor a copy.
Preparation PrepareEdits(std::string_view html, const std::vector<Tag> &tags,
                         const BookCover &cover, std::string_view startId = {});

// Prepares `html` in place with PrepareEdits.
FinishPlan PrepareHtmlText(std::string &html, const BookCover &cover,
                           std::string_view startId = {});

} // namespace finishing
