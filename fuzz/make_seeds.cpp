// Writes a starting corpus for each fuzzer into the folder named on the
// command line: books made with the test writer (a KF8 rendition alone and in
// a hybrid among them), and pieces cut from them and from the real books
// (PalmDOC text records, HUFF tables, indexes, picture records) when the
// corpus is present.
//   make_seeds OUT  ->  OUT/mobi_info, OUT/doc_decompressor, OUT/mobi_html,
//                       OUT/index_reader, OUT/kf8_rendition, OUT/html_stage, ...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "font_builder.h"
#include "fuzz_check.h"
#include "mobi_operator.h"
#include "index_writer.h"
#include "mobi_writer.h"
#include "palmdoc_encoder.h"
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

// Record `index` of the open book, at most `limit` bytes of it.
Bytes RecordBytes(const MobiOperator &book, std::uint32_t index, std::size_t limit = SIZE_MAX) {
  const auto bytes = book.Records().Record(index).Bytes();
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(limit, bytes.size())));
}

struct Seeds {
  SeedFolder books, doc, huff, html, images, index, kf8, stage;
};

// Records larger than this, other than text, are cut down to their first
// bytes in the KF8 seeds: enough to tell a picture or a font by its head.
constexpr std::size_t kLargeResource = 16 << 10;
constexpr std::size_t kResourceHead = 64;

// The book with its KF8 text stored uncompressed, so a mutation
// changes the markup itself, and its large resources cut down. Nothing when
// the text does not fill the header's text records exactly as stored ones.
std::optional<Bytes> WithPlainKf8Text(const MobiOperator &book, const BookSection &kf8) {
  const BookRecords &records = book.Records();
  std::string text;
  const auto header = ReadMobiHeader(records.Record(kf8.header));
  if (!header || DecodeSectionText(records, kf8, text) != 0 || header->textRecordSize == 0)
    return std::nullopt;
  const std::vector<Bytes> stored = testbook::SplitText(text, header->textRecordSize);
  if (stored.size() != kf8.TextRecordCount(header->textRecordCount))
    return std::nullopt;
  std::vector<Bytes> list;
  for (std::uint32_t i = 0; i < records.Count(); ++i) {
    const bool text = i >= kf8.FirstTextRecord() && i - kf8.FirstTextRecord() < stored.size();
    Bytes record = text ? stored[i - kf8.FirstTextRecord()] : RecordBytes(book, i);
    if (!text && record.size() > kLargeResource)
      record.resize(kResourceHead);
    list.push_back(std::move(record));
  }
  Bytes &kf8Header = list[kf8.header];
  testbook::PutU16BE(kf8Header, testbook::r0::kCompression, MobiHeader::kNoCompression);
  if (header->headerLength >= testbook::r0::kExtraDataFlags + 2 - 16)
    testbook::PutU16BE(kf8Header, testbook::r0::kExtraDataFlags, 0);
  return testbook::BuildPdb(list);
}

// The KF8 fuzzer's seeds from a book with a KF8 section: the book itself and
// its text stored plainly, each when small enough.
void AddKf8Book(const MobiOperator &book, const Bytes &file, SeedFolder &seeds) {
  const BookSections sections = FindSections(book.Records());
  if (!sections.kf8)
    return;
  if (file.size() <= fuzz::kMaxKf8Book)
    seeds.Add(file);
  if (const auto plain = WithPlainKf8Text(book, *sections.kf8);
      plain && plain->size() <= fuzz::kMaxKf8Book)
    seeds.Add(*plain);
}

// The sample KF8 rendition stored plainly, with a font among its resources,
// alone and behind a MOBI6 half.
void AddWrittenKf8Books(SeedFolder &seeds) {
  testbook::Kf8Book book = testbook::SampleKf8Book();
  book.compression = MobiHeader::kNoCompression;
  book.resources.push_back(testbook::MakeFontRecord(testbook::MakeFont("Seed Serif"), {}));
  seeds.Add(testbook::BuildBook(testbook::Kf8BookSpec(book)));
  seeds.Add(testbook::BuildHybrid(testbook::Kf8HybridSpec(book, testbook::kSampleMarkup)));
}

// The index reader fuzzer's input: the records of one index, each behind its
// 16-bit length.
void AppendRecord(Bytes &input, const Bytes &record) {
  testbook::AppendU16BE(input, static_cast<std::uint16_t>(record.size()));
  input.insert(input.end(), record.begin(), record.end());
}

// The index at record `first` of `book`, when every record fits the form.
void AddIndex(MobiOperator &book, std::uint32_t first, SeedFolder &seeds) {
  const Bytes primary = RecordBytes(book, first, 0xFFFF);
  const ByteReader reader(primary);
  const std::uint64_t count =
      1 + std::uint64_t{reader.U32BE(24).value_or(0)} + reader.U32BE(52).value_or(0);
  if (primary.size() < 4 || std::string(primary.begin(), primary.begin() + 4) != "INDX" ||
      count > 16)
    return;
  Bytes input;
  for (std::uint32_t i = 0; i < count; ++i)
    AppendRecord(input, RecordBytes(book, first + i, 0xFFFF));
  seeds.Add(input);
}

// A small contents index made by the test writer.
Bytes WrittenNcx() {
  testbook::Cncx strings;
  testbook::IndexSpec spec(testbook::NcxTagRows());
  spec.entries = {{"0", {{1, {10}}, {3, {strings.Add("One")}}, {4, {0}}}},
                  {"1", {{1, {90}}, {3, {strings.Add("One &amp; a half")}}, {4, {1}}, {21, {0}}}}};
  spec.cncxRecords = strings.Records();
  Bytes input;
  for (const Bytes &record : testbook::BuildIndex(spec))
    AppendRecord(input, record);
  return input;
}

// The HUFF/CDIC fuzzer's input: flags, CDIC count, output size, then the
// HUFF record, the CDIC records and a few text records, each length-prefixed.
Bytes HuffInput(const MobiOperator &book, const ByteReader &record0) {
  const std::uint32_t first = record0.U32BE(112).value_or(0);
  const std::uint32_t count = record0.U32BE(116).value_or(0);
  const bool flagged = record0.U32BE(20).value_or(0) >= 228;
  Bytes input;
  testbook::AppendU16BE(input, flagged ? record0.U16BE(242).value_or(0) : 0);
  input.push_back(static_cast<std::uint8_t>(count - 2));
  testbook::AppendU16BE(input, record0.U16BE(10).value_or(4096));
  auto append = [&](const Bytes &record) {
    testbook::AppendU16BE(input, static_cast<std::uint16_t>(record.size()));
    input.insert(input.end(), record.begin(), record.end());
  };
  for (std::uint32_t i = first; i < first + count; ++i)
    append(RecordBytes(book, i, 0xFFFF));
  for (std::uint32_t i = 1; i <= 3; ++i)
    append(RecordBytes(book, i, 0xFFFF));
  return input;
}

// The HTML stage's input: the library's HTML of the book at `path`, its
// first 48 KB, behind the facts byte (a cover) and a small piece size.
void AddUnpackedHtml(const fs::path &path, const fs::path &scratch, SeedFolder &stage) {
  MobiOperator book;
  const std::string html = (scratch / "book.htm").string();
  if (book.Init(path.c_str()) != 0 || book.UnpackBook(html.c_str()) != 0)
    return;
  Bytes text = testbook::ReadFile(html);
  text.resize(std::min<std::size_t>(text.size(), 48 * 1024));
  stage.Add(Concat({0x02, 0x20}, text));
}

// Text records, HUFF tables and pictures of the book at `path`, and the book
// for the KF8 fuzzer when it has a KF8 section.
void AddPieces(const fs::path &path, Seeds &seeds) {
  MobiOperator book;
  if (book.Init(path.c_str()) != 0)
    return;
  AddKf8Book(book, testbook::ReadFile(path.string()), seeds.kf8);
  const Bytes record0 = RecordBytes(book, 0);
  const ByteReader reader(record0);
  const std::uint16_t compression = reader.U16BE(0).value_or(0);
  const std::uint16_t textCount = reader.U16BE(8).value_or(0);
  const std::uint32_t firstImage = reader.U32BE(108).value_or(0);
  if (compression == PdbRecord0::kPalmDoc)
    for (std::uint32_t i = 1; i <= textCount && i <= 3; ++i)
      seeds.doc.Add(Concat({0x10, 0x00}, RecordBytes(book, i)));
  if (compression == PdbRecord0::kHuffCdic && reader.U32BE(116).value_or(0) >= 2 &&
      reader.U32BE(116).value_or(0) <= 9)
    seeds.huff.Add(HuffInput(book, reader));
  // The indexes each section's header names: the contents, and KF8's
  // fragments, skeletons and guide.
  const BookSections sections = FindSections(book.Records());
  for (const auto &section : {sections.mobi6, sections.kf8}) {
    if (!section)
      continue;
    const ByteReader header = book.Records().Record(section->header);
    for (std::size_t field : {0xF4, 0xF8, 0xFC, 0x104})
      if (const auto first = section->Record(header.U32BE(field).value_or(0xFFFFFFFF));
          first && *first != section->header)
        AddIndex(book, *first, seeds.index);
  }
  for (std::uint32_t i = firstImage; firstImage != 0 && i < firstImage + 3; ++i)
    if (Bytes record = RecordBytes(book, i); !record.empty() && record.size() < 64 * 1024)
      seeds.images.Add(record);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds OUTPUT_FOLDER\n");
    return 64;
  }
  const fs::path root = argv[1];
  Seeds seeds{{root, "mobi_info"},     {root, "doc_decompressor"}, {root, "huff_decompressor"},
              {root, "mobi_html"},     {root, "tarn_png"},         {root, "index_reader"},
              {root, "kf8_rendition"}, {root, "html_stage"}};

  testbook::ScratchFolder scratch;
  for (const testbook::SampleBook &book : testbook::SampleBooks()) {
    seeds.books.Add(book.bytes);
    testbook::WriteFile(scratch.File(book.name), book.bytes);
    AddPieces(scratch.File(book.name), seeds);
    AddUnpackedHtml(scratch.File(book.name), scratch.Path(), seeds.stage);
  }
  for (const fs::path &path : testbook::CorpusBooks()) {
    AddPieces(path, seeds);
    AddUnpackedHtml(path, scratch.Path(), seeds.stage);
    // The real books small enough to fuzz whole.
    if (fs::file_size(path) <= fuzz::kMaxWholeBook)
      seeds.books.Add(testbook::ReadFile(path.string()));
  }
  AddWrittenKf8Books(seeds.kf8);
  seeds.doc.Add(Bytes{0x00, 0x08, 0x61, 0x62, 0x80, 0x13, 0x03, 0x80, 0x81, 0xC2, 0xE1});
  seeds.html.Add(Concat({0x03}, testbook::ToBytes(std::string("<?xml version=\"1.0\"?>") +
                                                    testbook::kSampleMarkup)));
  seeds.html.Add(
      Concat({0x00}, testbook::ToBytes("<p>< image x><IMG\trecindex=0>< img recindex=\"3\">")));
  seeds.images.Add(testbook::TinyGif());
  seeds.index.Add(WrittenNcx());
  return 0;
}
