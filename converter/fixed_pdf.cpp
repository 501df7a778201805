#include "fixed_pdf.h"

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include "html_preparer.h"
#include "whole_file.h"

namespace finishing {

namespace {

using Handle = QPDFObjectHandle;

// Hands each picture's bytes to the writer only when it writes that stream,
// so a book of hundreds of pictures never sits in memory whole.
class PictureFiles : public QPDFObjectHandle::StreamDataProvider {
public:
  void Add(QPDFObjGen stream, std::string path) { paths_[stream] = std::move(path); }

  void provideStreamData(QPDFObjGen const &stream, Pipeline *pipeline) override {
    const std::string &path = paths_.at(stream);
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
      throw std::runtime_error("cannot read the picture " + path);
    unsigned char buffer[1 << 16];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
      pipeline->write(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
      throw std::runtime_error("cannot read the picture " + path);
    pipeline->finish();
  }

private:
  std::map<QPDFObjGen, std::string> paths_;
};

const char *ColourSpace(int components) {
  return components == 1 ? "/DeviceGray" : components == 3 ? "/DeviceRGB" : "/DeviceCMYK";
}

Handle JpegImage(QPDF &pdf, const pictures::JpegInfo &info, const std::string &path,
                 const std::shared_ptr<PictureFiles> &files) {
  Handle image = pdf.newStream();
  Handle dictionary = image.getDict();
  dictionary.replaceKey("/Type", Handle::newName("/XObject"));
  dictionary.replaceKey("/Subtype", Handle::newName("/Image"));
  dictionary.replaceKey("/Width", Handle::newInteger(info.width));
  dictionary.replaceKey("/Height", Handle::newInteger(info.height));
  dictionary.replaceKey("/ColorSpace", Handle::newName(ColourSpace(info.components)));
  dictionary.replaceKey("/BitsPerComponent", Handle::newInteger(info.precision));
  if (info.adobeCmyk)
    dictionary.replaceKey("/Decode", Handle::parse("[1 0 1 0 1 0 1 0]"));
  files->Add(image.getObjGen(), path);
  image.replaceStreamData(files, Handle::newName("/DCTDecode"), Handle::newNull());
  return image;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Draws the picture as large as the page holds it, centred: edge to edge
// when their shapes agree.
std::string DrawPicture(const FixedPage &page, const pictures::JpegInfo &info) {
  const double scale = std::min(page.width / info.width, page.height / info.height);
  const double width = info.width * scale;
  const double height = info.height * scale;
  return "q " + Number(width) + " 0 0 " + Number(height) + " " + Number((page.width - width) / 2) +
         " " + Number((page.height - height) / 2) + " cm /Im0 Do Q\n";
}

// The finishing step finds a page's places by its markers: link annotations
// whose addresses name them, here at the top of the page.
Handle Markers(QPDF &pdf, const FixedPage &page) {
  Handle annotations = Handle::newArray();
  for (const std::string &key : page.markKeys) {
    Handle marker = Handle::newDictionary();
    marker.replaceKey("/Type", Handle::newName("/Annot"));
    marker.replaceKey("/Subtype", Handle::newName("/Link"));
    marker.replaceKey("/Rect",
                      Handle::newArray(Handle::Rectangle(0, page.height - 1, 1, page.height)));
    Handle action = Handle::newDictionary();
    action.replaceKey("/S", Handle::newName("/URI"));
    action.replaceKey("/URI", Handle::newString(std::string(kMarkScheme) + key));
    marker.replaceKey("/A", action);
    annotations.appendItem(pdf.makeIndirectObject(marker));
  }
  return annotations;
}

QPDFPageObjectHelper PicturePage(QPDF &pdf, const FixedPage &page,
                                 const std::shared_ptr<PictureFiles> &files) {
  const auto bytes = textutil::ReadWholeFile(page.jpegPath);
  const auto info = bytes ? pictures::ReadJpegInfo(*bytes) : std::nullopt;
  if (!info)
    throw std::runtime_error("cannot read the JPEG picture " + page.jpegPath);
  Handle xobjects = Handle::newDictionary();
  xobjects.replaceKey("/Im0", JpegImage(pdf, *info, page.jpegPath, files));
  Handle resources = Handle::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  Handle dictionary = Handle::newDictionary();
  dictionary.replaceKey("/Type", Handle::newName("/Page"));
  dictionary.replaceKey("/MediaBox",
                        Handle::newArray(Handle::Rectangle(0, 0, page.width, page.height)));
  dictionary.replaceKey("/Resources", resources);
  dictionary.replaceKey("/Contents", pdf.newStream(DrawPicture(page, page.jpeg)));
  if (!page.markKeys.empty())
    dictionary.replaceKey("/Annots", Markers(pdf, page));
  return QPDFPageObjectHelper(pdf.makeIndirectObject(dictionary));
}

} // namespace

void WriteFixedLayoutPdf(const std::vector<FixedPage> &pages, const std::string &pdfPath) {
  QPDF pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper document(pdf);
  auto files = std::make_shared<PictureFiles>();
  // Rendered pages keep referring to their own files until the PDF is written.
  std::vector<std::unique_ptr<QPDF>> rendered;
  for (const FixedPage &page : pages) {
    if (page.renderedPdf.empty()) {
      document.addPage(PicturePage(pdf, page, files), false);
      continue;
    }
    rendered.push_back(std::make_unique<QPDF>());
    rendered.back()->setSuppressWarnings(true);
    rendered.back()->processFile(page.renderedPdf.c_str());
    const auto renderedPages = QPDFPageDocumentHelper(*rendered.back()).getAllPages();
    if (renderedPages.empty())
      throw std::runtime_error("the renderer wrote no page in " + page.renderedPdf);
    document.addPage(renderedPages.front(), false);
  }
  textutil::ReplaceFile(pdfPath, [&](std::FILE *file) {
    QPDFWriter writer(pdf);
    writer.setOutputFile(pdfPath.c_str(), file, false);
    // The pictures stay exactly the book's bytes.
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.write();
  });
}

} // namespace finishing
