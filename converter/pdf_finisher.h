// Finishes the PDF the renderer wrote: internal links, an outline and the
// book's title and author. The renderer (wkhtmltopdf without its patched
// toolkit) writes every link of the book as an address inside the working
// folder, no outline and an empty title.
#pragma once

#include <string>

#include "html_preparer.h"

namespace finishing {

// What the library tells about the book, as it gives it: bytes in the book's
// encoding (UTF-8 or Windows-1252), empty when the book has none.
struct BookDetails {
  std::string title;
  std::string author;
  // A fixed-layout book: each page is a page of the book, edge to edge.
  bool fixedLayout = false;
  // Its pages are read right to left (manga); viewers pair them so.
  bool rightToLeft = false;
};

// Rewrites the PDF at `pdfPath`, rendered from HTML prepared with `plan`:
// - each marker annotation becomes a destination and is removed;
// - each link to an element id ("#fileposN", "#chapter1") jumps to its
//   marker's place; a link whose target has no place, and any other link
//   into a local file, goes;
// - an outline from the plan, each entry jumping to its marker's place;
// - Title and Author from `details`;
// - for a right-to-left book, the reading direction R2L;
// - no string of the file is left holding the working folder's path.
// Throws std::exception when it cannot, and then leaves the file untouched.
void FinishPdf(const std::string &pdfPath, const std::string &workFolder, const FinishPlan &plan,
               const BookDetails &details);

} // namespace finishing
