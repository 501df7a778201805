// Finishes the PDF the renderer wrote: internal links, an outline, page
// numbers, where it opens, and the book's metadata. The renderer (wkhtmltopdf without its patched
// toolkit) writes every link of the book as an address inside the working
// folder, no outline and an empty title.
#pragma once

#include <string>
#include <vector>

#include "html_preparer.h"

class QPDF;

namespace finishing {

// The book's facts besides its title and author, UTF-8 as the library gives
// them; empty when the book states none. The lists hold one entry for each
// of the book's records.
struct BookFacts {
  std::vector<std::string> languages;
  std::string publisher;
  std::string description; // plain text or HTML
  std::string date;
  std::string isbn;
  std::string asin;
  std::vector<std::string> subjects;
  std::string startId; // the element where reading starts
};

// What the library tells about the book. Title and author are bytes in the
// book's encoding (UTF-8 or Windows-1252), empty when the book has none.
struct BookDetails {
  std::string title;
  std::string author;
  BookFacts facts = {};
  // A fixed-layout book: each page is a page of the book, edge to edge.
  bool fixedLayout = false;
  // Its pages are read right to left (manga); viewers pair them so.
  bool rightToLeft = false;
};

// Finishes `pdf`, rendered from HTML prepared with `plan`:
// - each marker annotation becomes a destination and is removed;
// - each link to an element id ("#fileposN", "#chapter1") jumps to its
//   marker's place; a link whose target has no place, and any other link
//   into a local file, goes;
// - an outline from the plan, each entry jumping to its marker's place;
// - the page numbers and page labels, when the plan asks for them;
// - an open action to the plan's reading start, else to the first page;
// - the document information (Title, Author, Subject, Keywords), an XMP
//   packet that agrees with it and adds the book's other facts, the
//   language, and viewers asked to show the title;
// - for a right-to-left book, the reading direction R2L;
// - no string of the file is left holding the working folder's path.
// Throws std::exception when it cannot; `pdf` may then be finished in part.
void FinishPdf(QPDF &pdf, const std::string &workFolder, const FinishPlan &plan,
               const BookDetails &details);

} // namespace finishing
