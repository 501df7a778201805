// Fixed-layout books end to end: one PDF page per book page at the page's
// shape, picture pages carrying the book's own JPEG bytes, the reading
// direction, and the corpus comic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <png.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include "convert_book.h"
#include "fixed_layout.h"
#include "fixed_layout_book.h"
#include "pdf_tools.h"
#include "tarn_png.h"
#include "test_files.h"

namespace {

using testbook::Bytes;
using testbook::RunProgram;

const std::string kImages = BOOKCONV_TEST_DATA_DIR "/images/";

struct PageSize {
  double width = 0;
  double height = 0;
};

std::vector<PageSize> PageSizes(const std::string &pdf) {
  const std::string info = RunProgram({"pdfinfo", "-f", "1", "-l", "1000", pdf}).out;
  std::vector<PageSize> sizes;
  std::istringstream lines(info);
  for (std::string line; std::getline(lines, line);) {
    PageSize size;
    if (line.rfind("Page ", 0) == 0 &&
        std::sscanf(line.c_str(), "Page %*d size: %lf x %lf", &size.width, &size.height) == 2)
      sizes.push_back(size);
  }
  return sizes;
}

struct PdfPicture {
  int page = 0;
  std::string type; // "image", "smask"
  int width = 0;
  int height = 0;
  std::string encoding;
  int object = 0;
  double xPpi = 0;
};

// pdfimages -list: page, num, type, width, height, color, comp, bpc, enc, interp, object, ID, x-ppi
// ...
std::vector<PdfPicture> Pictures(const std::string &pdf) {
  std::istringstream lines(RunProgram({"pdfimages", "-list", pdf}).out);
  std::vector<PdfPicture> pictures;
  std::string line;
  std::getline(lines, line);
  std::getline(lines, line);
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    PdfPicture picture;
    std::string skip;
    fields >> picture.page >> skip >> picture.type >> picture.width >> picture.height >> skip >>
        skip >> skip >> picture.encoding >> skip >> picture.object >> skip >> picture.xPpi;
    if (fields)
      pictures.push_back(picture);
  }
  return pictures;
}

Bytes ToBytes(const std::shared_ptr<Buffer> &buffer) {
  return Bytes(buffer->getBuffer(), buffer->getBuffer() + buffer->getSize());
}

QPDFObjectHandle ObjectOf(QPDF &reader, const std::string &pdf, int object) {
  reader.processFile(pdf.c_str());
  return reader.getObjectByID(object, 0);
}

// A stream's bytes as the file holds them.
Bytes RawStream(const std::string &pdf, int object) {
  QPDF reader;
  return ToBytes(ObjectOf(reader, pdf, object).getRawStreamData());
}

// A stream's bytes decoded.
Bytes FilteredStream(const std::string &pdf, int object) {
  QPDF reader;
  return ToBytes(ObjectOf(reader, pdf, object).getStreamData(qpdf_dl_generalized));
}

// A PNG's samples as libpng's whole-image reader expands them (palettes and
// transparency to channels, 16 bits kept), split into colour and alpha.
struct Samples {
  Bytes colour;
  Bytes alpha;
};

Samples PngSamples(const std::string &path) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_EXPAND, nullptr);
  const int channels = png_get_channels(png, info);
  const int sample = png_get_bit_depth(png, info) / 8;
  const bool alpha = channels == 2 || channels == 4;
  Samples samples;
  png_bytepp rows = png_get_rows(png, info);
  for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y)
    for (png_uint_32 x = 0; x < png_get_image_width(png, info); ++x)
      for (int c = 0; c < channels; ++c)
        for (int b = 0; b < sample; ++b)
          (alpha && c == channels - 1 ? samples.alpha : samples.colour)
              .push_back(rows[y][(x * channels + c) * sample + b]);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return samples;
}

// The object number of an image's /SMask; 0 when it has none.
int SoftMaskOf(const std::string &pdf, int image) {
  QPDF reader;
  const QPDFObjectHandle mask = ObjectOf(reader, pdf, image).getDict().getKey("/SMask");
  return mask.isIndirect() ? mask.getObjectID() : 0;
}

bool ReadsRightToLeft(const std::string &pdf) {
  QPDF reader;
  reader.processFile(pdf.c_str());
  QPDFObjectHandle preferences = reader.getRoot().getKey("/ViewerPreferences");
  return preferences.isDictionary() && preferences.getKey("/Direction").isNameAndEquals("/R2L");
}

void ExpectSize(const PageSize &size, double width, double height) {
  EXPECT_NEAR(size.width, width, 0.5);
  EXPECT_NEAR(size.height, height, 0.5);
}

struct Outcome {
  int result = -1;
  std::string err;
};

Outcome Convert(const std::string &book, const std::string &pdf, const std::string &work) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Outcome outcome;
  outcome.result = ConvertBook(book.c_str(), pdf.c_str(), work.c_str());
  outcome.err = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  return outcome;
}

// Converts and expects neither failure nor complaint.
void ConvertCleanly(const std::string &book, const std::string &pdf, const std::string &work) {
  const Outcome outcome = Convert(book, pdf, work);
  ASSERT_EQ(outcome.result, 0) << outcome.err;
  EXPECT_EQ(outcome.err.find("Error"), std::string::npos) << outcome.err;
}

TEST(FixedLayoutBook, MangaKeepsEveryPageShapeAndPicture) {
  const std::vector<testbook::FixedLayoutPage> pages = {
      {testbook::MakeJpeg(300, 450, 1), std::pair{300, 450}, ""},
      {testbook::MakeJpeg(300, 450, 2), std::nullopt, ""},
      {testbook::MakeJpeg(600, 450, 3), std::nullopt, ""}, // a spread
      {testbook::MakeJpeg(300, 450, 4), std::pair{400, 450}, "Harbour lights"},
      {testbook::ReadFile(kImages + "alpha.png"), std::nullopt, ""}, // 16-bit, with alpha
      {testbook::ReadFile(kImages + "transparent.gif"), std::nullopt, ""},
  };
  testbook::ScratchFolder scratch;
  const std::string book = scratch.File("manga.azw3");
  const std::string pdf = scratch.File("manga.pdf");
  testbook::WriteFile(book, testbook::FixedLayoutBook(pages, "300x450", "rtl"));
  ASSERT_NO_FATAL_FAILURE(ConvertCleanly(book, pdf, scratch.Path().string()));

  const std::vector<PageSize> sizes = PageSizes(pdf);
  ASSERT_EQ(sizes.size(), pages.size()) << "the cover is the first page, not an extra one";
  ExpectSize(sizes[0], 225, 337.5);
  ExpectSize(sizes[1], 225, 337.5);
  ExpectSize(sizes[2], 450, 337.5);
  ExpectSize(sizes[3], 300, 337.5); // its own viewport
  ExpectSize(sizes[4], 450, 337.5); // a landscape PNG
  ExpectSize(sizes[5], 225, 337.5);

  const std::vector<PdfPicture> pictures = Pictures(pdf);
  for (int page = 1; page <= 3; ++page) {
    const auto picture = std::find_if(pictures.begin(), pictures.end(),
                                      [&](const PdfPicture &p) { return p.page == page; });
    ASSERT_NE(picture, pictures.end()) << "page " << page;
    EXPECT_EQ(picture->encoding, "jpeg");
    EXPECT_EQ(RawStream(pdf, picture->object), pages[static_cast<std::size_t>(page - 1)].picture)
        << "page " << page << " carries other bytes than the book's picture";
  }
  EXPECT_NE(RunProgram({"pdftotext", "-f", "4", "-l", "4", pdf, "-"}).out.find("Harbour lights"),
            std::string::npos);

  // Other pictures keep every sample, their transparency as a soft mask.
  const std::string gifAsPng = scratch.File("transparent.png");
  ASSERT_EQ(jpg2png((kImages + "transparent.gif").c_str(), gifAsPng.c_str()), TARN_PNG_OK);
  const std::pair<int, std::string> lossless[] = {{5, kImages + "alpha.png"}, {6, gifAsPng}};
  for (const auto &pageAndOriginal : lossless) {
    const int page = pageAndOriginal.first;
    const Samples expected = PngSamples(pageAndOriginal.second);
    const auto image = std::find_if(pictures.begin(), pictures.end(), [&](const PdfPicture &p) {
      return p.page == page && p.type == "image";
    });
    ASSERT_NE(image, pictures.end()) << "page " << page;
    EXPECT_EQ(FilteredStream(pdf, image->object), expected.colour) << "page " << page;
    const int mask = SoftMaskOf(pdf, image->object);
    ASSERT_NE(mask, 0) << "page " << page;
    EXPECT_EQ(FilteredStream(pdf, mask), expected.alpha) << "page " << page;
  }
  EXPECT_TRUE(ReadsRightToLeft(pdf));
}

TEST(FixedLayoutBook, LeftToRightBookSetsNoDirection) {
  testbook::ScratchFolder scratch;
  const std::string book = scratch.File("comic.azw3");
  const std::string pdf = scratch.File("comic.pdf");
  testbook::WriteFile(
      book, testbook::FixedLayoutBook({{testbook::MakeJpeg(200, 300, 5), std::nullopt, ""}},
                                      "200x300", ""));
  ASSERT_NO_FATAL_FAILURE(ConvertCleanly(book, pdf, scratch.Path().string()));
  EXPECT_EQ(PageSizes(pdf).size(), 1u);
  EXPECT_FALSE(ReadsRightToLeft(pdf));
}

// How prepared HTML falls into pages: the finishing step's cover page, the
// parts with their viewports, the MOBI page breaks, and the hidden contents
// list on no page; markers on a stretch that shows nothing go with the next.
TEST(FixedLayoutPages, CoverPartsBreaksAndMarkers) {
  const std::string html =
      "<html><head><style>p{}</style></head><body>"
      "<div style=\"page-break-after:always;text-align:center\"><img src=\"f/cover.jpg\"/></div>"
      "<div class=\"bookconv-part\" id=\"p0\" data-viewport=\"width=800, height=600\">"
      "<a href=\"bookconv-mark:i1\"></a><svg><image xlink:href=\"f/spread.jpg\"/></svg></div>"
      "<div class=\"bookconv-part\" id=\"p1\" style=\"page-break-before:always\"><a "
      "href=\"bookconv-mark:i2\"></a></div>"
      "<div class=\"bookconv-part\" id=\"p2\" data-viewport=\"width=900000, "
      "height=90\"><p>Words</p>"
      "<img src=\"f/a.jpg\"/></div>"
      "<mbp:pagebreak/><div><img src=\"f/b.jpg\"/></div>"
      "<nav id=\"bookconv-contents\" style=\"display:none\"><ol><li><a "
      "href=\"#p0\">One</a></li></ol></nav>"
      "</body></html>";
  fixedlayout::LayoutFacts facts;
  facts.fixed = true;
  facts.originalResolution = fixedlayout::PixelSize{400, 600};
  const auto book = fixedlayout::CutIntoPages(html, facts, [](const std::string &) {
    return std::optional(fixedlayout::PixelSize{400, 600});
  });
  EXPECT_EQ(book.head, "<style>p{}</style>");
  ASSERT_EQ(book.pages.size(), 4u);
  EXPECT_EQ(book.pages[0].picture, "f/cover.jpg");
  EXPECT_EQ(book.pages[1].picture, "f/spread.jpg");
  EXPECT_EQ(book.pages[1].size.width, 800);
  EXPECT_EQ(book.pages[1].markKeys, std::vector<std::string>{"i1"});
  EXPECT_EQ(book.pages[2].picture, "") << "a page with words is rendered";
  EXPECT_EQ(book.pages[2].markKeys, std::vector<std::string>{"i2"});
  EXPECT_LE(book.pages[2].size.width, 19200);
  EXPECT_GE(book.pages[2].size.height, 4);
  EXPECT_EQ(book.pages[3].picture, "f/b.jpg");
  EXPECT_EQ(book.pages[3].markup.find("bookconv-contents"), std::string::npos);
}

// A page that names a file outside the picture folder is not built from it:
// a book never gets to put the reader's own files into its PDF.
TEST(FixedLayoutBook, PictureOutsideThePictureFolderIsNotCarried) {
  testbook::ScratchFolder scratch;
  const Bytes outside = testbook::MakeJpeg(200, 300, 7);
  testbook::WriteFile(scratch.File("outside.jpg"), outside);
  std::filesystem::create_directories(scratch.File("work"));
  testbook::BookSpec spec;
  spec.textRecords =
      testbook::SplitText("<html><body><div><img src=\"../outside.jpg\"/></div><mbp:pagebreak/>"
                          "<div><img src=\"" +
                          scratch.File("outside.jpg") + "\"/></div></body></html>");
  spec.exth = {{122, testbook::ToBytes("true")}, {126, testbook::ToBytes("200x300")}};
  const std::string book = scratch.File("book.mobi");
  const std::string pdf = scratch.File("book.pdf");
  testbook::WriteFile(book, testbook::BuildBook(spec));
  // The renderer reports the blocked file; the conversion goes on.
  ASSERT_EQ(Convert(book, pdf, scratch.File("work")).result, 0);
  EXPECT_EQ(PageSizes(pdf).size(), 2u);
  for (const PdfPicture &picture : Pictures(pdf))
    EXPECT_NE(RawStream(pdf, picture.object), outside) << "page " << picture.page;
}

TEST(FixedLayoutCorpus, KindlegenComicIsThreeFullPagesOfItsOwnJpegs) {
  const std::string book = BOOKCONV_CORPUS_DIR "/none-kindling-simple-comic.mobi";
  testbook::ScratchFolder scratch;
  const std::string pdf = scratch.File("comic.pdf");
  ASSERT_NO_FATAL_FAILURE(ConvertCleanly(book, pdf, scratch.Path().string()));
  const std::vector<PageSize> sizes = PageSizes(pdf);
  ASSERT_EQ(sizes.size(), 3u);
  const Bytes bookBytes = testbook::ReadFile(book);
  const std::vector<PdfPicture> pictures = Pictures(pdf);
  ASSERT_EQ(pictures.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(sizes[i].width / sizes[i].height, 2.0 / 3.0, 0.01);
    const PdfPicture &picture = pictures[i];
    EXPECT_EQ(picture.page, static_cast<int>(i + 1));
    EXPECT_EQ(picture.encoding, "jpeg");
    // Drawn across the whole page width: its pixels over its resolution.
    EXPECT_NEAR(picture.width / picture.xPpi * 72, sizes[i].width, 1);
    const Bytes stream = RawStream(pdf, picture.object);
    ASSERT_GT(stream.size(), 1000u);
    EXPECT_NE(std::search(bookBytes.begin(), bookBytes.end(), stream.begin(), stream.end()),
              bookBytes.end())
        << "page " << i + 1 << " does not carry a picture record of the book";
  }
}

} // namespace
