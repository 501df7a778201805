// Writes a fixed-layout book's PDF page by page: a picture page straight from
// the picture (a JPEG's own bytes, a PNG's pixels losslessly), a rendered
// page taken from the renderer's PDF.
#pragma once

#include <string>
#include <vector>

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

// Writes `pages` in order as the PDF `pdfPath`. Throws std::exception when a
// picture or rendered page cannot be read or the file cannot be written;
// `pdfPath` is then left as it was.
void WriteFixedLayoutPdf(const std::vector<FixedPage> &pages, const std::string &pdfPath);

} // namespace finishing
