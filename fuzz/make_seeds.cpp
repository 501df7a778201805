// Writes a starting corpus for each fuzzer into the folder named on the
// command line: books made with the test writer, and pieces cut from the real
// books (PalmDOC text records, picture records) when the corpus is present.
//   make_seeds OUT  ->  OUT/mobi_info, OUT/doc_decompressor, OUT/mobi_html, ...
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "mobi_operator.h"
#include "mobi_writer.h"
#include "test_files.h"

namespace {

using testbook::Bytes;
namespace fs = std::filesystem;

class SeedFolder {
public:
  SeedFolder(const fs::path &root, const std::string &target) : folder_(root / target) {
    fs::create_directories(folder_);
  }
  void Add(const Bytes &bytes) {
    testbook::WriteFile((folder_ / ("seed_" + std::to_string(count_++))).string(), bytes);
  }

private:
  fs::path folder_;
  int count_ = 0;
};

Bytes Concat(Bytes head, const Bytes &tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// PalmDOC text that decodes to `text`: literal runs of up to eight bytes.
Bytes PalmDocLiterals(const std::string &text) {
  Bytes out;
  for (std::size_t at = 0; at < text.size(); at += 8) {
    const std::string piece = text.substr(at, 8);
    out.push_back(static_cast<std::uint8_t>(piece.size()));
    out.insert(out.end(), piece.begin(), piece.end());
  }
  return out;
}

const char kMarkup[] =
    "<html><head><guide><reference type=\"toc\" filepos=0000000060 /></guide></head><body>"
    "<p>Chapter <a filepos=00000120>one</a> and <a FILEPOS='7'>seven</a>.</p>"
    "<img recindex=\"00001\" alt=x><img recindex='2'><p height=\"1em\">End<mbp:pagebreak/>"
    "<image src=cover.jpg></body></html>";

Bytes Gif() { return testbook::ToBytes(std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13)); }

std::vector<testbook::BookSpec> WrittenBooks() {
  std::vector<testbook::BookSpec> books;
  testbook::BookSpec plain;
  plain.textRecords = testbook::SplitText(std::string(kMarkup) + std::string(300, 'x'), 128);
  plain.imageRecords = {Gif(), testbook::ToBytes("\xFF\xD8\xFF\xE0 jpeg"),
                        testbook::ToBytes("FLIS\0\0\0\x08")};
  plain.exth = {{100, testbook::ToBytes("Author, An")}, {201, Bytes{0, 0, 0, 0}}};
  books.push_back(plain);

  testbook::BookSpec palmdoc = plain;
  palmdoc.compression = 2;
  palmdoc.textRecords = {PalmDocLiterals(kMarkup), Bytes{'a', 'b', 0x80, 0x13, 0xE1, 0x00}};
  palmdoc.textEncoding = 1252;
  palmdoc.mobiHeaderLength = 264;
  palmdoc.extraDataFlags = 3;
  books.push_back(palmdoc);

  testbook::BookSpec empty;
  empty.fullName = "";
  books.push_back(empty);
  return books;
}

void AddCorpusPieces(SeedFolder &doc, SeedFolder &images) {
  for (const fs::path &path : testbook::CorpusBooks()) {
    MobiOperator book;
    if (book.Init(path.c_str()) != 0)
      continue;
    const Bytes record0 = book.ReadSection(0);
    const ByteReader reader(record0);
    const std::uint16_t compression = reader.U16BE(0).value_or(0);
    const std::uint16_t textCount = reader.U16BE(8).value_or(0);
    const std::uint32_t firstImage = reader.U32BE(108).value_or(0);
    if (compression == PdbRecord0::kPalmDoc)
      for (std::uint32_t i = 1; i <= textCount && i <= 3; ++i)
        doc.Add(Concat({0x10, 0x00}, book.ReadSection(i)));
    for (std::uint32_t i = firstImage; firstImage != 0 && i < firstImage + 3; ++i)
      if (Bytes record = book.ReadSection(i); !record.empty() && record.size() < 64 * 1024)
        images.Add(record);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
    return 64;
  }
  const fs::path root = argv[1];
  SeedFolder books(root, "mobi_info"), doc(root, "doc_decompressor"), html(root, "mobi_html"),
      images(root, "tarn_png");

  for (const testbook::BookSpec &spec : WrittenBooks())
    books.Add(testbook::BuildBook(spec));
  doc.Add(Concat({0x10, 0x00}, PalmDocLiterals(kMarkup)));
  doc.Add(Bytes{0x00, 0x08, 0x61, 0x62, 0x80, 0x13, 0x03, 0x80, 0x81, 0xC2, 0xE1});
  html.Add(Concat({0x03}, testbook::ToBytes(std::string("<?xml version=\"1.0\"?>") + kMarkup)));
  html.Add(Concat({0x00}, testbook::ToBytes("<p>< image x><IMG\trecindex=0>< img recindex=\"3\">")));
  images.Add(Gif());
  AddCorpusPieces(doc, images);
  return 0;
}
