#include "finishing_step.h"

#include <cstdio>
#include <exception>

#include "book_pdf.h"

namespace finishing {

namespace {

void WarnUnfinished(const std::string &why) {
  std::fprintf(stderr,
               "Warning: the PDF keeps the renderer's links, without outline or title: %s\n",
               why.c_str());
}

} // namespace

BookPdfPtr FinishedPdf(const PdfBuilder &build, const std::string &workFolder,
                       const FinishPlan &plan, const BookDetails &details) {
  BookPdfPtr book = build();
  std::puts("Finishing PDF");
  std::fflush(stdout);
  try {
    FinishPdf(book->pdf, workFolder, plan, details);
    return book;
  } catch (const std::exception &error) {
    WarnUnfinished(error.what());
  } catch (...) {
    WarnUnfinished("the PDF library failed");
  }
  // Finished in part, it could hold anything; the renderer's pages are sound.
  return build();
}

} // namespace finishing
