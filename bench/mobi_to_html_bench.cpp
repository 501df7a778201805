// MobiToHtml on generated books: a 5 MB MOBI6 book with 20,000 filepos links,
// and a KF8 book with kindle:pos links at 1x (2.6 MB) and 8x its size; on the
// KF8 and MOBI6 twins of one corpus book, and on the corpus's largest book.
// Each reports, besides its time, the peak memory one unpacking adds to a
// process (peak_MB: unpack_book's peak on the book less its peak on none)
// and that peak over the size of the HTML written (peak_per_html).
//
//   build/bench/mobi_to_html_bench [--benchmark_filter=Kf8] [benchmark options]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "linked_book.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

int Unpack(const std::string &book, const std::string &html) {
  MobiService *service = CreateMobiService();
  int result = service->Init(service->data, book.c_str());
  if (result == MOBI_OK)
    result = service->MobiToHtml(service->data, html.c_str());
  service->ClearUp(service->data);
  FreeMobiService(service);
  return result;
}

// The peak resident bytes of a fresh unpack_book process on `book`, as it
// reports them; a forked copy of this process would reuse the heap that the
// book's generation left.
long ChildPeak(const std::string &book, const std::string &html) {
  const std::string command = std::string(BOOKCONV_UNPACK_BOOK) + " '" + book + "' '" + html + "'";
  std::FILE *child = popen(command.c_str(), "r");
  long peakKb = 0;
  char line[256];
  while (child != nullptr && std::fgets(line, sizeof line, child) != nullptr)
    std::sscanf(line, "peak_rss_kB: %ld", &peakKb);
  if (child != nullptr)
    pclose(child);
  return peakKb * 1024L;
}

void ReportPeak(benchmark::State &state, const std::string &book, const std::string &html) {
  const double peak =
      static_cast<double>(ChildPeak(book, html) - ChildPeak(book + ".missing", html));
  const double written = static_cast<double>(std::filesystem::file_size(html));
  state.counters["html_MB"] = written / 1e6;
  state.counters["peak_MB"] = peak / 1e6;
  state.counters["peak_per_html"] = peak / written;
}

void UnpackInto(benchmark::State &state, const std::string &book) {
  const testbook::ScratchFolder scratch;
  const std::string html = scratch.File("book.htm");
  for (auto _ : state)
    if (const int result = Unpack(book, html); result != MOBI_OK)
      state.SkipWithError(("MobiToHtml returned " + std::to_string(result)).c_str());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(std::filesystem::file_size(book)));
  ReportPeak(state, book, html);
}

void BM_GeneratedBookWithLinks(benchmark::State &state) {
  const testbook::ScratchFolder scratch;
  const std::string book = scratch.File("linked.mobi");
  WriteLinkedBook(book);
  UnpackInto(state, book);
}
BENCHMARK(BM_GeneratedBookWithLinks)->Unit(benchmark::kMillisecond);

// The argument is the size, in units of 100 chapters: the time should grow
// linearly with it.
void BM_GeneratedKf8Book(benchmark::State &state) {
  const testbook::ScratchFolder scratch;
  const std::string book = scratch.File("linked.azw3");
  WriteLinkedKf8Book(book, 100 * static_cast<std::size_t>(state.range(0)));
  UnpackInto(state, book);
}
BENCHMARK(BM_GeneratedKf8Book)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_CorpusBook(benchmark::State &state, const char *name) {
  const std::filesystem::path book = testbook::CorpusFolder() / name;
  if (testbook::CorpusFolder().empty()) {
    state.SkipWithError("no book corpus at ../shared/corpus/books beside the project");
    return;
  }
  UnpackInto(state, book.string());
}
// The same book in its two renditions: KF8 should take at most twice as long.
BENCHMARK_CAPTURE(BM_CorpusBook, kf8, "odd-calibre8-first-men-kf8only.azw3")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CorpusBook, mobi6, "palmdoc-calibre8-first-men-in-the-moon.mobi")
    ->Unit(benchmark::kMillisecond);

void BM_LargestCorpusBook(benchmark::State &state) {
  const auto books = testbook::CorpusBooks();
  const auto largest =
      std::max_element(books.begin(), books.end(), [](const auto &a, const auto &b) {
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
