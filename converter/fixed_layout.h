// Fixed-layout books (comics, manga, picture books): every page of the book
// has its own size and becomes one PDF page of that shape, edge to edge. A
// page that is only a picture is built from the picture's own bytes; any
// other page is rendered alone at its size.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fixedlayout {

// A size in CSS pixels, as the book states it.
struct PixelSize {
  double width = 0;
  double height = 0;
  bool Landscape() const { return width > height; }
};

// The facts the library reads from EXTH or the book's package metadata.
struct LayoutFacts {
  bool fixed = false;
  bool rightToLeft = false;
  std::optional<PixelSize> originalResolution;
};

// `fixedLayout` etc. are the library's texts of the facts of those names
// (empty when the book states none). Right to left: a page-progression
// direction "rtl", or a writing mode "horizontal-rl" or "vertical-rl".
LayoutFacts ReadLayoutFacts(std::string_view fixedLayout, std::string_view originalResolution,
                            std::string_view progression, std::string_view writingMode);

// "400x600" as written in EXTH 126.
std::optional<PixelSize> ParseResolution(std::string_view text);
// "width=400, height=600" as a viewport meta element states it.
std::optional<PixelSize> ParseViewport(std::string_view text);

struct BookPage {
  PixelSize size;
  // The picture's address relative to the HTML file's folder, when the page
  // shows that picture and nothing else; empty for a page to render.
  std::string picture;
  std::string markup; // the page's part of the body, for the renderer
  // Keys of the finishing step's markers that lie on the page.
  std::vector<std::string> markKeys;
};

struct FixedBook {
  std::string head; // the book's head content: its title and style sheets
  std::vector<BookPage> pages;
};

// The pixel size of a picture by its address, when it can be read.
using PictureSizes = std::function<std::optional<PixelSize>(const std::string &address)>;

// Cuts the prepared HTML of a fixed-layout book into its pages: each part of
// a KF8 book, and each top-level stretch between page breaks. A page takes
// its part's viewport, else the book's original resolution, else its
// picture's size; a picture page whose picture is landscape in a portrait
// book is a spread and keeps the picture's shape.
FixedBook CutIntoPages(std::string_view html, const LayoutFacts &facts, const PictureSizes &sizes);

// The document the renderer lays out for `page`: the book's head, a page of
// exactly the page's size without margins, and the page's markup.
std::string PageDocument(const FixedBook &book, const BookPage &page, std::string_view headStart);

// The page's size in PDF points, at CSS's 96 pixels to the inch.
double PixelsToPoints(double pixels);

} // namespace fixedlayout
