// Test-only fixed-layout books: KF8 comics and picture books written with the
// KF8 writer, and the JPEG pictures for their pages.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mobi_writer.h"

namespace testbook {

// A baseline JPEG of `width` x `height` pixels: colour bands under noise, so
// it compresses about as a scanned page does. `seed` varies the content.
Bytes MakeJpeg(int width, int height, unsigned seed, int quality = 85);

struct FixedLayoutPage {
  Bytes picture;
  // The width and height its viewport meta element states; none: the page
  // takes the book's original resolution.
  std::optional<std::pair<int, int>> viewport;
  std::string text; // a line beside the picture; empty for a picture page
};

// A KF8-only book, one part a page, with EXTH 122 "true", 126 `resolution`
// ("400x600") and, unless empty, 527 `progression` ("rtl"). The first page's
// picture is the cover.
Bytes FixedLayoutBook(const std::vector<FixedLayoutPage> &pages, const std::string &resolution,
                      const std::string &progression);

} // namespace testbook
