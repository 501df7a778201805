#include "pdf_joiner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include "book_pdf.h"
#include "common/whole_file.h"

namespace finishing {

namespace {

// `pdf` read from the bytes of the file at `path`, which `book` keeps.
void Open(QPDF &pdf, BookPdf &book, const std::string &path) {
  std::optional<std::string> file = textutil::ReadWholeFile(path);
  if (!file)
    throw std::runtime_error("cannot read " + path);
  const std::string &bytes = book.bytes.emplace_back(std::move(*file));
  pdf.setSuppressWarnings(true);
  pdf.processMemoryFile(path.c_str(), bytes.data(), bytes.size());
}

} // namespace

void BookPdfDeleter::operator()(BookPdf *book) const { delete book; }

QPDF &BookPdf::Load(const std::string &path) {
  QPDF &source = *sources.emplace_back(std::make_unique<QPDF>());
  Open(source, *this, path);
  return source;
}

BookPdfPtr JoinPdfs(const std::vector<std::string> &parts) {
  BookPdfPtr book(new BookPdf);
  if (parts.size() == 1) {
    Open(book->pdf, *book, parts.front());
    return book;
  }
  book->pdf.emptyPDF();
  QPDFPageDocumentHelper pages(book->pdf);
  for (const std::string &part : parts)
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(book->Load(part)).getAllPages())
      pages.addPage(page, false);
  return book;
}

void WritePdfFile(BookPdf &book, const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    throw PdfFileError(std::strerror(errno));
  // A partial PDF is worse than none; a device stays, though.
  struct stat status;
  const bool regular = fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode);
  const auto removePartial = [&] {
    if (regular)
      unlink(path.c_str());
  };
  const auto discard = [&] {
    std::fclose(file);
    removePartial();
  };
  int cause = 0;
  try {
    errno = 0;
    QPDFWriter writer(book.pdf);
    writer.setOutputFile(path.c_str(), file, false);
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.write();
    cause = errno;
  } catch (const QPDFSystemError &error) {
    discard();
    throw PdfFileError(std::strerror(error.getErrno()));
  } catch (...) {
    discard();
    throw;
  }
  // qpdf flushes the file without a look at the result; the stream keeps it.
  bool written = std::ferror(file) == 0;
  if (written && std::fflush(file) != 0) {
    written = false;
    cause = errno;
  }
  if (std::fclose(file) != 0 && written) {
    written = false;
    cause = errno;
  }
  if (!written) {
    removePartial();
    throw PdfFileError(std::strerror(cause != 0 ? cause : EIO));
  }
}

} // namespace finishing
