// The finishing step as the conversion pipeline runs it: the HTML is prepared
// before rendering and the PDF finished after it. Finishing never fails a
// conversion: when it cannot be done, the PDF stays as the renderer wrote it
// and one "Warning: ..." line on standard error says why.
#pragma once

#include <string>

#include "html_preparer.h"
#include "pdf_finisher.h"

namespace finishing {

class FinishingStep {
public:
  // `coverImage` is the library's cover name, relative to the HTML file's
  // folder, or empty.
  FinishingStep(BookDetails details, std::string coverImage);

  // Adds the markers and the cover page to the HTML file before rendering.
  void PrepareHtml(const std::string &htmlPath);
  // Finishes the rendered PDF in place, and writes the phase line.
  void FinishPdf(const std::string &pdfPath, const std::string &workFolder);

private:
  BookDetails details_;
  std::string coverImage_;
  FinishPlan plan_;
  std::string prepareFailure_; // empty when the HTML was prepared
};

} // namespace finishing
