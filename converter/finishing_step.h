// The finishing step as the conversion pipeline runs it, on the book's PDF in
// memory. Finishing never fails a conversion: when it cannot be done, the
// PDF stays as the renderer made it and one "Warning: ..." line on standard
// error says why.
#pragma once

#include <functional>
#include <string>

#include "pdf_finisher.h"
#include "pdf_joiner.h"

namespace finishing {

// Makes the book's PDF from what the renderer wrote; throws std::exception
// when it cannot.
using PdfBuilder = std::function<BookPdfPtr()>;

// The PDF `build` makes, finished with `plan` and `details`, after the phase
// line. When finishing fails, `build` makes it again, unfinished. Throws what
// `build` throws.
BookPdfPtr FinishedPdf(const PdfBuilder &build, const std::string &workFolder,
                       const FinishPlan &plan, const BookDetails &details);

} // namespace finishing
