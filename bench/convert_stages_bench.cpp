// Time and peak memory of bookconv's three stages on one book: unpacking
// (Tarn_Mobi), image normalisation (Tarn_Png) and rendering (wkhtmltopdf:
// one pass over the library's HTML), and of the whole conversion (laid out,
// rendered in pieces side by side, joined and finished), to compare with
// that one pass in the same run.
//
//   build/bench/convert_stages_bench [--book=PATH | --novel] [benchmark options]
//
// --novel converts a generated novel of 3 MB of text.
// peak_rss_MiB is this process's peak so far; renderer_peak_MiB is the
// largest peak of a wkhtmltopdf child.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "convert_book.h"
#include "folder_images.h"
#include "mobi_writer.h"
#include "render_pdf.h"
#include "tarn_mobi.h"

namespace {

namespace fs = std::filesystem;

std::string book = BOOKCONV_SAMPLE_BOOK;

// A working folder of its own, removed at the end.
class WorkFolder {
public:
  WorkFolder() {
    std::string pattern = (fs::temp_directory_path() / "bookconv-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot make a working folder");
    path_ = pattern + "/";
  }
  ~WorkFolder() { fs::remove_all(path_); }
  const std::string &Path() const { return path_; }
  std::string Html() const { return path_ + "tmpData.htm"; }
  std::string Images() const { return path_ + "tmpData_files"; }

private:
  std::string path_;
};

// Keeps the stages' console output out of the benchmark's table.
class Silence {
public:
  Silence() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = dup(STDOUT_FILENO);
    savedErr_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    close(null);
  }
  ~Silence() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut_, STDOUT_FILENO);
    dup2(savedErr_, STDERR_FILENO);
    close(savedOut_);
    close(savedErr_);
  }
  Silence(const Silence &) = delete;
  Silence &operator=(const Silence &) = delete;

private:
  int savedOut_, savedErr_;
};

void Unpack(const WorkFolder &work) {
  MobiService *service = CreateMobiService();
  if (service == nullptr || service->Init(service->data, book.c_str()) != MOBI_OK) {
    FreeMobiService(service);
    throw std::runtime_error("cannot open " + book);
  }
  service->MobiToHtml(service->data, work.Html().c_str());
  service->ClearUp(service->data);
  FreeMobiService(service);
}

double PeakMiB(int who) {
  struct rusage usage;
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void SetPeaks(benchmark::State &state) {
  state.counters["peak_rss_MiB"] = PeakMiB(RUSAGE_SELF);
  state.counters["renderer_peak_MiB"] = PeakMiB(RUSAGE_CHILDREN);
}

void Unpacking(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming(); // making and removing the folder is not unpacking
    auto work = std::make_unique<WorkFolder>();
    state.ResumeTiming();
    Unpack(*work);
    state.PauseTiming();
    work.reset();
    state.ResumeTiming();
  }
  SetPeaks(state);
}

void ImageNormalisation(benchmark::State &state) {
  WorkFolder work;
  Unpack(work);
  const std::string pristine = work.Path() + "pristine";
  fs::copy(work.Images(), pristine);
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work.Images());
    fs::copy(pristine, work.Images());
    state.ResumeTiming();
    Silence silence;
    ConvertFolderImages(work.Images(), 1);
  }
  SetPeaks(state);
}

void Rendering(benchmark::State &state) {
  WorkFolder work;
  Unpack(work);
  {
    Silence silence;
    ConvertFolderImages(work.Images(), 1);
  }
  for (auto _ : state) {
    Silence silence;
    if (!RenderPdf(work.Html(), work.Path() + "tmpData.pdf", work.Path()))
      state.SkipWithError("rendering failed");
  }
  SetPeaks(state);
}

void WholeConversion(benchmark::State &state) {
  for (auto _ : state) {
    WorkFolder work;
    Silence silence;
    if (ConvertBook(book.c_str(), (work.Path() + "book.pdf").c_str(), work.Path().c_str()) != 0)
      state.SkipWithError("conversion failed");
  }
  SetPeaks(state);
}

// Chapters of plain paragraphs parted by page breaks, 3 MB in all.
std::string WriteNovel() {
  std::string text = "<html><head></head><body>";
  for (int chapter = 1; text.size() < 3'000'000; ++chapter) {
    text += "<mbp:pagebreak/><h2>Chapter " + std::to_string(chapter) + "</h2>";
    for (int paragraph = 0; paragraph < 40; ++paragraph) {
      text += "<p width=\"1em\">";
      for (int word = 0; word < 90; ++word)
        text += word % 7 ? "harbour " : "lanterns ";
      text += "</p>";
    }
  }
  text += "</body></html>";
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText(text, 4096);
  const std::string path = (fs::temp_directory_path() / "bookconv-bench-novel.mobi").string();
  testbook::WriteFile(path, testbook::BuildBook(spec));
  return path;
}

BENCHMARK(Unpacking)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ImageNormalisation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Rendering)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(WholeConversion)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
  std::vector<char *> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--book=", 7) == 0)
      book = argv[i] + 7;
    else if (std::strcmp(argv[i], "--novel") == 0)
      book = WriteNovel();
    else
      rest.push_back(argv[i]);
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
