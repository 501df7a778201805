// A generated fixed-layout comic of 200 pages, each a 1600x2400 JPEG, through
// the bookconv program: time a page, the peak memory of the conversion and
// the PDF's size against the pictures'. The comic is made by a child of its
// own, so this process stays small: a child's peak starts from its parent's.
//
//   build/bench/fixed_layout_bench [--previous=PATH] [--keep=FOLDER] [benchmark options]
//
// --previous also runs another build's bookconv on the same book, side by
// side; --keep leaves the comic and the PDFs in FOLDER.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "fixed_layout_book.h"
#include "pdf_tools.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 200;
constexpr int kWidth = 1600;
constexpr int kHeight = 2400;

std::string previous;
std::string keep;

struct Comic {
  std::string path;
  std::size_t pictureBytes = 0;
};

std::string self;

// Writes the comic at `path` and prints the size of its pictures.
int MakeComic(const std::string &path) {
  std::vector<testbook::FixedLayoutPage> pages;
  std::size_t pictureBytes = 0;
  for (int i = 0; i < kPages; ++i) {
    pages.push_back(
        {testbook::MakeJpeg(kWidth, kHeight, static_cast<unsigned>(i)), std::nullopt, ""});
    pictureBytes += pages.back().picture.size();
  }
  testbook::WriteFile(path, testbook::FixedLayoutBook(pages, "1600x2400", "rtl"));
  std::printf("%zu\n", pictureBytes);
  return 0;
}

// Made once, in --keep's folder or a scratch folder that lasts the whole run.
const Comic &GeneratedComic() {
  static const testbook::ScratchFolder scratch;
  static const Comic comic = [] {
    Comic made;
    made.path = ((keep.empty() ? scratch.Path() : fs::path(keep)) / "comic.azw3").string();
    const testbook::ProgramResult result =
        testbook::RunProgram({self, "--make-comic=" + made.path});
    if (result.status != 0)
      throw std::runtime_error("the comic could not be made");
    made.pictureBytes = std::stoull(result.out);
    return made;
  }();
  return comic;
}

struct Run {
  int status = -1;
  double peakMiB = 0;
};

// Runs `program` book pdf work/ with its output discarded.
Run RunConversion(const std::string &program, const std::string &book, const std::string &pdf,
                  const std::string &work) {
  Run run;
  const pid_t child = testbook::StartQuietly({program, book, pdf, work});
  if (child > 0) {
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) == child && WIFEXITED(status))
      run.status = WEXITSTATUS(status);
    run.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  return run;
}

void ConvertComic(benchmark::State &state, const std::string &program, const std::string &name) {
  const testbook::ScratchFolder scratch;
  const fs::path folder = keep.empty() ? scratch.Path() : fs::path(keep);
  const Comic &comic = GeneratedComic();
  const std::string pdf = (folder / (name + ".pdf")).string();
  const fs::path work = scratch.Path() / ("work-" + name);
  fs::create_directories(work);
  double peak = 0;
  for (auto _ : state) {
    const Run run = RunConversion(program, comic.path, pdf, work.string() + "/");
    if (run.status != 0) {
      state.SkipWithError(("bookconv exited with " + std::to_string(run.status)).c_str());
      return;
    }
    peak = std::max(peak, run.peakMiB);
  }
  state.counters["s_per_page"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kPages,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["peak_MiB"] = peak;
  state.counters["pdf_to_pictures"] =
      static_cast<double>(fs::file_size(pdf)) / static_cast<double>(comic.pictureBytes);
}

} // namespace

int main(int argc, char **argv) {
  self = fs::canonical("/proc/self/exe").string();
  std::vector<char *> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--make-comic=", 13) == 0)
      return MakeComic(argv[i] + 13);
    if (std::strncmp(argv[i], "--previous=", 11) == 0)
      previous = argv[i] + 11;
    else if (std::strncmp(argv[i], "--keep=", 7) == 0)
      keep = argv[i] + 7;
    else
      rest.push_back(argv[i]);
  }
  int restCount = static_cast<int>(rest.size());
  benchmark::RegisterBenchmark(
      "FixedLayoutComic/current",
      [](benchmark::State &state) { ConvertComic(state, BOOKCONV_PROGRAM, "current"); })
      ->Unit(benchmark::kSecond)
      ->UseRealTime();
  if (!previous.empty())
    benchmark::RegisterBenchmark(
        "FixedLayoutComic/previous",
        [](benchmark::State &state) { ConvertComic(state, previous, "previous"); })
        ->Unit(benchmark::kSecond)
        ->UseRealTime();
  benchmark::Initialize(&restCount, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
