#include "fixed_layout_book.h"

#include <cstdlib>
#include <random>

#include <jpeglib.h>

#include "kf8_writer.h"

namespace testbook {

namespace {

std::string PageSkeleton(const FixedLayoutPage &page) {
  std::string head = "<title>page</title>";
  if (page.viewport)
    head += "<meta name=\"viewport\" content=\"width=" + std::to_string(page.viewport->first) +
            ", height=" + std::to_string(page.viewport->second) + "\"/>";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html "
         "xmlns=\"http://www.w3.org/1999/xhtml\"><head>" +
         head + "</head><body><div></div></body></html>";
}

std::string PageContent(const FixedLayoutPage &page, std::size_t number) {
  const std::string embed =
      "kindle:embed:" + Kf8FlowBuilder::Base32(static_cast<std::uint32_t>(number), 4) +
      "?mime=image/jpeg";
  std::string content = "<img src=\"" + embed + "\" alt=\"\"/>";
  if (!page.text.empty())
    content += "<p style=\"position:absolute;top:10px;left:10px;margin:0\">" + page.text + "</p>";
  return content;
}

Bytes Text(const std::string &text) { return ToBytes(text); }

} // namespace

Bytes MakeJpeg(int width, int height, unsigned seed, int quality) {
  jpeg_compress_struct compressor;
  jpeg_error_mgr errors;
  compressor.err = jpeg_std_error(&errors);
  jpeg_create_compress(&compressor);
  unsigned char *buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&compressor, &buffer, &size);
  compressor.image_width = static_cast<JDIMENSION>(width);
  compressor.image_height = static_cast<JDIMENSION>(height);
  compressor.input_components = 3;
  compressor.in_color_space = JCS_RGB;
  jpeg_set_defaults(&compressor);
  jpeg_set_quality(&compressor, quality, TRUE);
  jpeg_start_compress(&compressor, TRUE);
  std::minstd_rand noise(seed);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  while (compressor.next_scanline < compressor.image_height) {
    const unsigned y = compressor.next_scanline;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        row[static_cast<std::size_t>(x) * 3 + c] = static_cast<unsigned char>(
            (x * (c + 1) + y * (3 - c) + seed * 40) / 8 % 200 + noise() % 56);
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&compressor, rows, 1);
  }
  jpeg_finish_compress(&compressor);
  jpeg_destroy_compress(&compressor);
  Bytes jpeg(buffer, buffer + size);
  std::free(buffer);
  return jpeg;
}

Bytes FixedLayoutBook(const std::vector<FixedLayoutPage> &pages, const std::string &resolution,
                      const std::string &progression) {
  Kf8Book book;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string skeleton = PageSkeleton(pages[i]);
    book.flow0.Add(skeleton, {{skeleton.find("</div>"), PageContent(pages[i], i + 1)}});
    book.resources.push_back(pages[i].picture);
  }
  book.exth = {{122, Text("true")}, {126, Text(resolution)}, {201, U32(0)}};
  if (!progression.empty())
    book.exth.push_back({527, Text(progression)});
  return BuildBook(Kf8BookSpec(book));
}

} // namespace testbook
