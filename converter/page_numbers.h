// Page numbers for the finished PDF. The renderers cannot draw running
// footers, so each number is added to its page's content afterwards, the
// same whichever engine laid the pages out.
#pragma once

#include <cstddef>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

namespace finishing {

// Draws on every page from `firstNumbered` (counted from 0) its place in the
// PDF, counted from 1, centred at the foot in a small serif type. The page's
// own content is wrapped in a saved graphics state, so whatever it leaves set
// does not move or recolour the number.
void StampPageNumbers(QPDF &pdf, std::vector<QPDFPageObjectHelper> &pages,
                      std::size_t firstNumbered);

// Page labels that make viewers show the same numbers: decimal, from 1 on
// the first page.
void SetPageLabels(QPDF &pdf);

} // namespace finishing
