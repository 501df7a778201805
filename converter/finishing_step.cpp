#include "finishing_step.h"

#include <cstdio>
#include <exception>

namespace finishing {

namespace {

void Warn(const std::string &what) { std::fprintf(stderr, "Warning: %s\n", what.c_str()); }

void WarnUnfinished(const std::string &why) {
  Warn("the PDF keeps the renderer's links, without outline or title: " + why);
}

} // namespace

FinishingStep::FinishingStep(BookDetails details, std::string coverImage)
    : details_(std::move(details)), coverImage_(std::move(coverImage)) {}

void FinishingStep::PrepareHtml(const std::string &htmlPath) {
  try {
    plan_ = PrepareHtmlFile(htmlPath, coverImage_, details_.facts.startId);
  } catch (const std::exception &error) {
    // Finishing still runs, to set the title and drop the links that would
    // lead into the working folder; the warning comes after it.
    prepareFailure_ = error.what();
  } catch (...) {
    prepareFailure_ = "the HTML could not be prepared";
  }
  // A fixed layout's pages are the book's own, and so are their numbers.
  plan_.numberPages = !details_.fixedLayout;
}

void FinishingStep::FinishPdf(const std::string &pdfPath, const std::string &workFolder) {
  std::puts("Finishing PDF");
  std::fflush(stdout);
  try {
    finishing::FinishPdf(pdfPath, workFolder, plan_, details_);
  } catch (const std::exception &error) {
    WarnUnfinished(error.what());
    return;
  } catch (...) {
    WarnUnfinished("the PDF library failed");
    return;
  }
  if (!prepareFailure_.empty())
    Warn("the PDF has no internal links or outline: " + prepareFailure_);
}

} // namespace finishing
