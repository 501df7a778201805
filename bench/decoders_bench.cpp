// Output speed of the PalmDOC and HUFF/CDIC decoders over a text of about
// 4 MB in records of 4096 bytes.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "decoding/doc_decompressor.h"
#include "decoding/huff_decompressor.h"
#include "decoding/bit_reader.h"
#include "huff_encoder.h"
#include "mobi_operator.h"
#include "palmdoc_encoder.h"
#include "text_encoder.h"

namespace {

constexpr std::size_t kTextSize = 4 << 20;
constexpr std::uint32_t kRecordSize = 4096;

struct Book {
  std::vector<std::string> chunks;
  std::vector<testbook::Bytes> palmDoc;
  std::vector<testbook::Bytes> huff;
  std::vector<testbook::Bytes> huffRecords;

  Book() {
    const std::string text = testbook::SampleText(kTextSize);
    for (std::size_t at = 0; at < text.size(); at += kRecordSize)
      chunks.push_back(text.substr(at, kRecordSize));
    for (const std::string &chunk : chunks)
      palmDoc.push_back(testbook::PalmDocEncode(chunk));
    // Like a real dictionary: many phrases, half of them stored coded.
    std::vector<testbook::HuffPhrase> phrases;
    for (const std::string &phrase : testbook::FrequentPhrases(chunks, 1500))
      phrases.push_back({phrase, phrases.size() % 2 == 1});
    const testbook::HuffEncoder encoder(std::move(phrases), chunks);
    huffRecords = encoder.Records();
    for (const std::string &chunk : chunks)
      huff.push_back(encoder.Encode(chunk));
  }
};

const Book &TheBook() {
  static const Book book;
  return book;
}

void BM_PalmDoc(benchmark::State &state) {
  const Book &book = TheBook();
  std::vector<char> out(kRecordSize);
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const auto &record : book.palmDoc) {
      bytes += DocDecompressor().Decompress(record, out.data(), kRecordSize);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_PalmDoc)->Unit(benchmark::kMillisecond);

HuffDecompressor MakeHuff(const Book &book) {
  return HuffDecompressor(book.huffRecords.front(),
                          {book.huffRecords.begin() + 1, book.huffRecords.end()}, 0);
}

std::size_t DecodeAll(HuffDecompressor &huff, const Book &book, std::vector<char> &out) {
  std::size_t bytes = 0;
  for (const auto &record : book.huff) {
    bytes += huff.Decompress(record, out.data(), kRecordSize);
    benchmark::DoNotOptimize(out.data());
  }
  return bytes;
}

// One decoder for the whole book, as a book is read: kept expansions warm.
void BM_HuffCdic(benchmark::State &state) {
  const Book &book = TheBook();
  HuffDecompressor huff = MakeHuff(book);
  std::vector<char> out(kRecordSize);
  std::size_t bytes = 0;
  for (auto _ : state)
    bytes += DecodeAll(huff, book, out);
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_HuffCdic)->Unit(benchmark::kMillisecond);

// A fresh decoder each pass: loading the tables and expanding entries included.
void BM_HuffCdicFreshDecoder(benchmark::State &state) {
  const Book &book = TheBook();
  std::vector<char> out(kRecordSize);
  std::size_t bytes = 0;
  for (auto _ : state) {
    HuffDecompressor huff = MakeHuff(book);
    bytes += DecodeAll(huff, book, out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_HuffCdicFreshDecoder)->Unit(benchmark::kMillisecond);

// The text of a real book's first section, decoded as the text step does it.
void DecodeCorpusBook(benchmark::State &state, const char *name) {
  MobiOperator book;
  const std::string path = std::string(BOOKCONV_CORPUS_DIR) + "/" + name;
  if (book.Init(path.c_str()) != 0) {
    state.SkipWithError("corpus book not available");
    return;
  }
  const BookSections sections = FindSections(book.Records());
  const BookSection &section = sections.mobi6 ? *sections.mobi6 : *sections.kf8;
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text;
    if (DecodeSectionText(book.Records(), section, text) != 0) {
      state.SkipWithError("the book's text cannot be decoded");
      return;
    }
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}
BENCHMARK_CAPTURE(DecodeCorpusBook, PalmDocOriginOfSpecies,
                  "palmdoc-gutenberg-origin-of-species-cp1252.mobi")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeCorpusBook, HuffCdicUnicode, "huff-libmobi-unicode.mobi")
    ->Unit(benchmark::kMicrosecond);

} // namespace
