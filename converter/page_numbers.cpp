#include "page_numbers.h"

#include <cstdio>
#include <string>

#include <qpdf/QPDFObjectHandle.hh>

namespace finishing {

namespace {

using Handle = QPDFObjectHandle;

// The body is set at about 12 points; the number sits half-way down the
// 20 mm bottom margin.
constexpr double kNumberSize = 9;
constexpr double kBaselineAboveFoot = 27;
// Every digit of Times is half an em wide.
constexpr double kDigitWidth = 0.5;
constexpr const char *kFontName = "/BookconvPageNumber";

// Times is a serif, like the body, and every viewer has it: nothing is
// embedded, and the digits extract as text.
Handle NumberFont(QPDF &pdf) {
  return pdf.makeIndirectObject(Handle::parse(
      "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding /WinAnsiEncoding >>"));
}

// The page's /Font resources, made where the page has none of its own.
Handle FontResources(QPDFPageObjectHelper &page) {
  // Shared or inherited resources get the font too: it is the same on every page.
  Handle resources = page.getAttribute("/Resources", false);
  if (!resources.isDictionary()) {
    resources = Handle::newDictionary();
    page.getObjectHandle().replaceKey("/Resources", resources);
  }
  Handle fonts = resources.getKey("/Font");
  if (!fonts.isDictionary()) {
    fonts = Handle::newDictionary();
    resources.replaceKey("/Font", fonts);
  }
  return fonts;
}

// Ends the page's own content and draws `number` centred above its foot.
std::string NumberContent(QPDFPageObjectHelper &page, std::size_t number) {
  const Handle::Rectangle box = page.getCropBox(false, false).getArrayAsRectangle();
  const std::string digits = std::to_string(number);
  const double x =
      (box.llx + box.urx - static_cast<double>(digits.size()) * kDigitWidth * kNumberSize) / 2;
  // Marked as pagination, which screen readers pass over.
  char content[200];
  std::snprintf(content, sizeof content,
                "Q\nq /Artifact << /Type /Pagination >> BDC 0 g BT %s %.0f Tf 1 0 0 1 %.2f %.2f Tm "
                "(%s) Tj ET EMC Q\n",
                kFontName, kNumberSize, x, box.lly + kBaselineAboveFoot, digits.c_str());
  return content;
}

// The page's content streams between `before` and `after`.
void WrapContents(QPDFPageObjectHelper &page, Handle before, Handle after) {
  Handle object = page.getObjectHandle();
  Handle contents = object.getKey("/Contents");
  std::vector<Handle> streams{before};
  if (contents.isArray()) {
    const std::vector<Handle> own = contents.getArrayAsVector();
    streams.insert(streams.end(), own.begin(), own.end());
  } else if (contents.isStream()) {
    streams.push_back(contents);
  }
  streams.push_back(after);
  object.replaceKey("/Contents", Handle::newArray(streams));
}

} // namespace

void StampPageNumbers(QPDF &pdf, std::vector<QPDFPageObjectHelper> &pages,
                      std::size_t firstNumbered) {
  if (firstNumbered >= pages.size())
    return;
  const Handle font = NumberFont(pdf);
  // One stream that saves the state, shared by every page.
  const Handle save = Handle::newStream(&pdf, "q\n");
  for (std::size_t i = firstNumbered; i < pages.size(); ++i) {
    QPDFPageObjectHelper &page = pages[i];
    FontResources(page).replaceKey(kFontName, font);
    WrapContents(page, save, Handle::newStream(&pdf, NumberContent(page, i + 1)));
  }
}

void SetPageLabels(QPDF &pdf) {
  pdf.getRoot().replaceKey("/PageLabels", Handle::parse("<< /Nums [ 0 << /S /D >> ] >>"));
}

} // namespace finishing
