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
#include "sample_books.h"
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

  for (const testbook::SampleBook &book : testbook::SampleBooks())
    books.Add(book.bytes);
  doc.Add(Concat({0x10, 0x00}, testbook::PalmDocLiterals(testbook::kSampleMarkup)));
  doc.Add(Bytes{0x00, 0x08, 0x61, 0x62, 0x80, 0x13, 0x03, 0x80, 0x81, 0xC2, 0xE1});
  html.Add(Concat({0x03}, testbook::ToBytes(std::string("<?xml version=\"1.0\"?>") +
                                              testbook::kSampleMarkup)));
  html.Add(Concat({0x00}, testbook::ToBytes("<p>< image x><IMG\trecindex=0>< img recindex=\"3\">")));
  images.Add(testbook::TinyGif());
  AddCorpusPieces(doc, images);
  return 0;
}
