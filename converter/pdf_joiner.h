// A book's PDF in memory, made of the pages of the PDFs the renderer wrote:
// each is read once, and the book is written once.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace finishing {

struct BookPdf; // book_pdf.h, for the units that build on qpdf
struct BookPdfDeleter {
  void operator()(BookPdf *book) const;
};
using BookPdfPtr = std::unique_ptr<BookPdf, BookPdfDeleter>;

// The pages of `parts`, in order, each with its annotations (links and the
// finishing step's markers). One part is taken whole, with its document
// information. Throws std::exception when a part cannot be read.
BookPdfPtr JoinPdfs(const std::vector<std::string> &parts);

// The file a PDF was to be written to could not be opened or written; the
// message is the system's.
class PdfFileError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Writes the book's PDF as the file at `path`, every stream kept exactly as it stands
// (a renderer's compression, a picture's own bytes). The file is opened as a
// copy would open it: created or emptied in place. Throws PdfFileError when
// the file cannot be written, which then is removed unless it is no regular
// file (a device), and another std::exception when the PDF cannot be.
void WritePdfFile(BookPdf &book, const std::string &path);

} // namespace finishing
