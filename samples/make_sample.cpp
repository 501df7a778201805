// Writes samples/bookconv-guide.mobi: a short illustrated guide to bookconv,
// with a linked table of contents and a JPEG, a GIF and a PNG picture; the
// text is PalmDOC-compressed.
//
//   cmake --build build --target make_sample
//   build/samples/make_sample samples/pictures samples/bookconv-guide.mobi
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "mobi_writer.h"
#include "palmdoc_encoder.h"

namespace {

// Chapters as (anchor name, markup); the contents list links to each.
struct Chapter {
  std::string title;
  std::string body;
};

const std::vector<Chapter> kChapters = {
    {"What bookconv does",
     "<p>bookconv turns a MOBI e-book into a PDF document you can print or read anywhere. "
     "It unpacks the book with its own library, Tarn_Mobi, into one UTF-8 HTML file and a "
     "folder of pictures, re-encodes the pictures as PNG, and renders the page with "
     "wkhtmltopdf.</p>"
     "<p><img recindex=\"00001\"/></p>"
     "<p>Every step runs in a working folder you choose. When bookconv ends, that folder "
     "holds exactly what it held before.</p>"},
    {"Running it",
     "<p>Give it three paths: the book, the PDF to write and the working folder.</p>"
     "<pre>bookconv novel.mobi out/novel.pdf /tmp/work/</pre>"
     "<p>The exit status tells what happened: 0 the PDF was written; 1 the book is missing; "
     "3 the output folder is missing; 2 the working folder is missing; 4 the file is not a "
     "MOBI book; 5 the book could not be unpacked, for instance because it is encrypted; "
     "6 the PDF could not be rendered.</p>"
     "<p><img recindex=\"00002\"/> The working folder keeps the temporary files: tmpData.mobi, "
     "tmpData.htm, the picture folder tmpData_files and tmpData.pdf.</p>"},
    {"Inside the book",
     "<p>A MOBI book is a Palm database. Its first record describes the book; the text "
     "records follow, compressed with PalmDOC or HUFF/CDIC, then the pictures. Links inside "
     "the book point at byte positions of the text, which Tarn_Mobi turns into anchors, "
     "just like the contents list at the start of this guide.</p>"},
    {"The library",
     "<p><img recindex=\"00003\"/></p>"
     "<p>Tarn_Mobi has a small C interface: CreateMobiService returns a table of functions "
     "to open a book, unpack it to HTML, read its title, author and cover, and close it. "
     "FreeMobiService releases the table.</p>"
     "<p>Happy reading!</p>"},
};

// A filepos value: ten digits, so filling it in moves no byte.
std::string Filepos(std::size_t offset) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%010zu", offset);
  return digits;
}

std::string GuideText() {
  const std::string placeholder = "##########";
  std::string text = "<html><head><guide><reference type=\"toc\" title=\"Contents\" "
                     "filepos=" + placeholder + "/></guide></head><body>";
  const std::size_t contentsLink = text.find(placeholder);
  const std::size_t contents = text.size();
  text += "<h1>The bookconv guide</h1><h2>Contents</h2>";
  std::vector<std::size_t> links;
  for (const Chapter &chapter : kChapters) {
    text += "<p><a filepos=";
    links.push_back(text.size());
    text += placeholder + ">" + chapter.title + "</a></p>";
  }
  for (std::size_t i = 0; i < kChapters.size(); ++i) {
    text += "<mbp:pagebreak/>";
    text.replace(links[i], placeholder.size(), Filepos(text.size()));
    text += "<h2>" + kChapters[i].title + "</h2>" + kChapters[i].body;
  }
  text.replace(contentsLink, placeholder.size(), Filepos(contents));
  return text + "</body></html>";
}

testbook::Bytes Utf8(const std::string &text) { return testbook::ToBytes(text); }

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fputs("usage: make_sample PICTURE_FOLDER OUTPUT.mobi\n", stderr);
    return 64;
  }
  const std::string pictures = std::string(argv[1]) + "/";
  try {
    testbook::BookSpec spec;
    spec.databaseName = "bookconv_guide";
    spec.fullName = "The bookconv guide";
    spec.exth = {{100, Utf8("The bookconv developers")}, {503, Utf8("The bookconv guide")},
                 {201, {0, 0, 0, 2}}}; // the logo is the cover
    const std::string text = GuideText();
    spec.compression = 2; // PalmDOC
    spec.textLength = static_cast<std::uint32_t>(text.size());
    for (const testbook::Bytes &record : testbook::SplitText(text))
      spec.textRecords.push_back(
          testbook::PalmDocEncode(std::string_view(reinterpret_cast<const char *>(record.data()),
                                                   record.size())));
    spec.imageRecords = {testbook::ReadFile(pictures + "pipeline.jpg"),
                         testbook::ReadFile(pictures + "folder.gif"),
                         testbook::ReadFile(pictures + "logo.png")};
    for (const auto &picture : spec.imageRecords)
      if (picture.empty())
        throw std::runtime_error("a picture is missing from " + pictures);
    testbook::WriteFile(argv[2], testbook::BuildBook(spec));
  } catch (const std::exception &error) {
    std::fprintf(stderr, "make_sample: %s\n", error.what());
    return 1;
  }
  return 0;
}
