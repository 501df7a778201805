#include "pdf_joiner.h"

#include <memory>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "common/whole_file.h"

namespace finishing {

void JoinPdfs(const std::vector<std::string> &parts, const std::string &joined) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper pages(pdf);
  // Pages copied from a part keep referring to it until the file is written.
  std::vector<std::unique_ptr<QPDF>> sources;
  for (const std::string &part : parts) {
    sources.push_back(std::make_unique<QPDF>());
    QPDF &source = *sources.back();
    source.setSuppressWarnings(true);
    source.processFile(part.c_str());
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(source).getAllPages())
      pages.addPage(page, false);
  }
  WriteStreamsAsTheyAre(pdf, joined);
}

void WriteStreamsAsTheyAre(QPDF &pdf, const std::string &path) {
  textutil::ReplaceFile(path, [&](std::FILE *file) {
    QPDFWriter writer(pdf);
    writer.setOutputFile(path.c_str(), file, false);
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.write();
  });
}

} // namespace finishing
