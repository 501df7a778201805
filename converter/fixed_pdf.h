// Writes a fixed-layout book's PDF page by page: a picture page straight from
// the picture (a JPEG's own bytes, a PNG's pixels losslessly), a rendered
// page taken from the renderer's PDF.
#pragma once

#include <string>
#include <vector>

#include "pdf_joiner.h"
#include "picture_file.h"

namespace finishing {

struct FixedPage {
  double width = 0; // points
  double height = 0;
  // A JPEG or PNG file drawn over the whole page; or
  std::string picturePath;
  pictures::PictureInfo picture;
  // a PDF whose first page is this page.
  std::string renderedPdf;
  // Finishing markers on the page, placed at its top where the renderer
  // drew none.
  std::vector<std::string> markKeys;
};

// The PDF of `pages` in order; the pictures are read, exactly the book's
// bytes, when it is written. Throws std::exception when a rendered page cannot
// be read.
BookPdfPtr BuildFixedLayoutPdf(const std::vector<FixedPage> &pages);

} // namespace finishing
