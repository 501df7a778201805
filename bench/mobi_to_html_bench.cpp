// MobiToHtml on a generated 5 MB book with 20,000 filepos links, and on the
// largest book of the corpus when it is present.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "linked_book.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

void UnpackInto(benchmark::State &state, const std::string &book) {
  const testbook::ScratchFolder scratch;
  const std::string html = scratch.File("book.htm");
  for (auto _ : state) {
    MobiService *service = CreateMobiService();
    service->Init(service->data, book.c_str());
    const int result = service->MobiToHtml(service->data, html.c_str());
    service->ClearUp(service->data);
    FreeMobiService(service);
    if (result != MOBI_OK)
      state.SkipWithError(("MobiToHtml returned " + std::to_string(result)).c_str());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(book)));
}

void BM_GeneratedBookWithLinks(benchmark::State &state) {
  const testbook::ScratchFolder scratch;
  const std::string book = scratch.File("linked.mobi");
  WriteLinkedBook(book);
  UnpackInto(state, book);
}
BENCHMARK(BM_GeneratedBookWithLinks)->Unit(benchmark::kMillisecond);

void BM_LargestCorpusBook(benchmark::State &state) {
  const auto books = testbook::CorpusBooks();
  const auto largest = std::max_element(books.begin(), books.end(), [](const auto &a, const auto &b) {
    return std::filesystem::file_size(a) < std::filesystem::file_size(b);
  });
  if (largest == books.end()) {
    state.SkipWithError("no book corpus at ../shared/corpus/books beside the project");
    return;
  }
  state.SetLabel(largest->filename().string());
  UnpackInto(state, largest->string());
}
BENCHMARK(BM_LargestCorpusBook)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
