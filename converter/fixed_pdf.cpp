#include "fixed_pdf.h"

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include <qpdf/Pipeline.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "book_pdf.h"
#include "html_preparer.h"
#include "common/c_file.h"

namespace finishing {

namespace {

using Handle = QPDFObjectHandle;

// What one picture stream holds: a JPEG's bytes, or a PNG's colour or
// alpha channels.
enum class Content { JpegBytes, Colour, Alpha };

struct PictureStream {
  std::string path;
  pictures::PictureInfo info;
  Content content = Content::JpegBytes;
};

void CopyFile(const std::string &path, Pipeline *pipeline) {
  const CFile file(std::fopen(path.c_str(), "rb"));
  if (!file)
    throw std::runtime_error("cannot read the picture " + path);
  unsigned char buffer[1 << 16];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    pipeline->write(buffer, got);
  if (std::ferror(file.get()) != 0)
    throw std::runtime_error("cannot read the picture " + path);
  pipeline->finish();
}

// The colour channels, or the alpha channel, of a PNG's pixels, deflated.
void DeflateChannels(const PictureStream &stream, Pipeline *pipeline) {
  const auto pixels = pictures::DecodePng(stream.path, stream.info);
  if (!pixels)
    throw std::runtime_error("cannot decode the picture " + stream.path);
  const std::size_t sample = static_cast<std::size_t>(stream.info.precision / 8);
  const std::size_t pixelBytes = pictures::PixelBytes(stream.info);
  const std::size_t colourBytes = static_cast<std::size_t>(stream.info.components) * sample;
  const std::size_t from = stream.content == Content::Alpha ? colourBytes : 0;
  const std::size_t count = stream.content == Content::Alpha ? sample : colourBytes;
  Pl_Flate deflate("picture", pipeline, Pl_Flate::a_deflate);
  if (count == pixelBytes) {
    deflate.write(pixels->data(), pixels->size());
  } else {
    std::vector<unsigned char> channels;
    channels.reserve(pixels->size() / pixelBytes * count);
    for (std::size_t at = 0; at + pixelBytes <= pixels->size(); at += pixelBytes)
      channels.insert(channels.end(), pixels->begin() + static_cast<std::ptrdiff_t>(at + from),
                      pixels->begin() + static_cast<std::ptrdiff_t>(at + from + count));
    deflate.write(channels.data(), channels.size());
  }
  deflate.finish();
}

// Hands each picture's data to the writer only when it writes that stream,
// so a book of hundreds of pictures never sits in memory whole.
class PictureFiles : public QPDFObjectHandle::StreamDataProvider {
public:
  void Add(QPDFObjGen stream, PictureStream picture) { streams_[stream] = std::move(picture); }

  void provideStreamData(QPDFObjGen const &stream, Pipeline *pipeline) override {
    const PictureStream &picture = streams_.at(stream);
    if (picture.content == Content::JpegBytes)
      CopyFile(picture.path, pipeline);
    else
      DeflateChannels(picture, pipeline);
  }

private:
  std::map<QPDFObjGen, PictureStream> streams_;
};

const char *ColourSpace(int components) {
  return components == 1 ? "/DeviceGray" : components == 3 ? "/DeviceRGB" : "/DeviceCMYK";
}

Handle ImageStream(QPDF &pdf, const pictures::PictureInfo &info, int components) {
  Handle image = pdf.newStream();
  Handle dictionary = image.getDict();
  dictionary.replaceKey("/Type", Handle::newName("/XObject"));
  dictionary.replaceKey("/Subtype", Handle::newName("/Image"));
  dictionary.replaceKey("/Width", Handle::newInteger(info.width));
  dictionary.replaceKey("/Height", Handle::newInteger(info.height));
  dictionary.replaceKey("/ColorSpace", Handle::newName(ColourSpace(components)));
  dictionary.replaceKey("/BitsPerComponent", Handle::newInteger(info.precision));
  return image;
}

Handle PictureImage(QPDF &pdf, const std::string &path, const pictures::PictureInfo &info,
                    const std::shared_ptr<PictureFiles> &files) {
  Handle image = ImageStream(pdf, info, info.components);
  if (info.kind == pictures::PictureKind::Jpeg) {
    if (info.adobeCmyk)
      image.getDict().replaceKey("/Decode", Handle::parse("[1 0 1 0 1 0 1 0]"));
    files->Add(image.getObjGen(), {path, info, Content::JpegBytes});
    image.replaceStreamData(files, Handle::newName("/DCTDecode"), Handle::newNull());
    return image;
  }
  files->Add(image.getObjGen(), {path, info, Content::Colour});
  image.replaceStreamData(files, Handle::newName("/FlateDecode"), Handle::newNull());
  if (info.alpha) {
    Handle mask = ImageStream(pdf, info, 1);
    files->Add(mask.getObjGen(), {path, info, Content::Alpha});
    mask.replaceStreamData(files, Handle::newName("/FlateDecode"), Handle::newNull());
    image.getDict().replaceKey("/SMask", mask);
  }
  return image;
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

// Draws the picture as large as the page holds it, centred: edge to edge
// when their shapes agree.
std::string DrawPicture(const FixedPage &page, const pictures::PictureInfo &info) {
  const double scale = std::min(page.width / info.width, page.height / info.height);
  const double width = info.width * scale;
  const double height = info.height * scale;
  return "q " + Number(width) + " 0 0 " + Number(height) + " " + Number((page.width - width) / 2) +
         " " + Number((page.height - height) / 2) + " cm /Im0 Do Q\n";
}

// The finishing step finds a page's places by its markers: link annotations
// whose addresses name them, here at the top of the page. A rendered page
// has its own where the renderer drew them; those come first and win.
void AddMarkers(QPDF &pdf, QPDFPageObjectHelper pdfPage, const FixedPage &page) {
  if (page.markKeys.empty())
    return;
  Handle object = pdfPage.getObjectHandle();
  Handle annotations = object.getKey("/Annots");
  if (!annotations.isArray()) {
    annotations = Handle::newArray();
    object.replaceKey("/Annots", annotations);
  }
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
}

QPDFPageObjectHelper PicturePage(QPDF &pdf, const FixedPage &page,
                                 const std::shared_ptr<PictureFiles> &files) {
  Handle xobjects = Handle::newDictionary();
  xobjects.replaceKey("/Im0", PictureImage(pdf, page.picturePath, page.picture, files));
  Handle resources = Handle::newDictionary();
  resources.replaceKey("/XObject", xobjects);
  Handle dictionary = Handle::newDictionary();
  dictionary.replaceKey("/Type", Handle::newName("/Page"));
  dictionary.replaceKey("/MediaBox",
                        Handle::newArray(Handle::Rectangle(0, 0, page.width, page.height)));
  dictionary.replaceKey("/Resources", resources);
  dictionary.replaceKey("/Contents", pdf.newStream(DrawPicture(page, page.picture)));
  QPDFPageObjectHelper pdfPage(pdf.makeIndirectObject(dictionary));
  AddMarkers(pdf, pdfPage, page);
  return pdfPage;
}

} // namespace

BookPdfPtr BuildFixedLayoutPdf(const std::vector<FixedPage> &pages) {
  BookPdfPtr book(new BookPdf);
  QPDF &pdf = book->pdf;
  pdf.emptyPDF();
  QPDFPageDocumentHelper document(pdf);
  auto files = std::make_shared<PictureFiles>();
  for (const FixedPage &page : pages) {
    if (page.renderedPdf.empty()) {
      document.addPage(PicturePage(pdf, page, files), false);
      continue;
    }
    const auto renderedPages = QPDFPageDocumentHelper(book->Load(page.renderedPdf)).getAllPages();
    if (renderedPages.empty())
      throw std::runtime_error("the renderer wrote no page in " + page.renderedPdf);
    document.addPage(renderedPages.front(), false);
    AddMarkers(pdf, document.getAllPages().back(), page);
  }
  return book;
}

} // namespace finishing
