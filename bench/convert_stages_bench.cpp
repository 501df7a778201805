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
// largest peak of a renderer child. The whole conversion runs once with each
// engine: as installed (wkhtmltopdf where it is), and with wkhtmltopdf
// hidden from the search path (headless Chromium); its all_peak_MiB is the
// largest sum of the proportional resident memory (PSS) of this process and
// every process below it, sampled every 10 ms.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>
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

// Proportional resident memory of process `pid` (its share of pages it
// shares with others, so that a sum counts every page once), in KiB; 0 when
// it is gone.
long ResidentKiB(const std::string &pid) {
  std::FILE *file = std::fopen(("/proc/" + pid + "/smaps_rollup").c_str(), "r");
  if (file == nullptr)
    return 0;
  long kib = 0;
  char line[256];
  while (std::fgets(line, sizeof line, file) != nullptr)
    if (std::sscanf(line, "Pss: %ld kB", &kib) == 1)
      break;
  std::fclose(file);
  return kib;
}

pid_t ParentOf(const std::string &pid) {
  std::FILE *file = std::fopen(("/proc/" + pid + "/stat").c_str(), "r");
  if (file == nullptr)
    return 0;
  char line[512] = {};
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  const char *nameEnd = read ? std::strrchr(line, ')') : nullptr;
  int parent = 0;
  char state = 0;
  return nameEnd != nullptr && std::sscanf(nameEnd + 1, " %c %d", &state, &parent) == 2 ? parent
                                                                                        : 0;
}

// The resident memory of this process and all below it.
long TreeResidentKiB() {
  std::map<pid_t, pid_t> parents;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (!name.empty() && std::isdigit(static_cast<unsigned char>(name[0])))
      parents[std::stoi(name)] = ParentOf(name);
  }
  const pid_t self = getpid();
  long total = 0;
  for (const auto &[pid, parent] : parents) {
    pid_t up = pid;
    for (int depth = 0; up != 0 && up != self && depth < 64; ++depth) {
      const auto next = parents.find(up);
      up = next == parents.end() ? 0 : next->second;
    }
    if (up == self)
      total += ResidentKiB(std::to_string(pid));
  }
  return total;
}

// Samples TreeResidentKiB while it lives; the largest sample.
class TreePeak {
public:
  TreePeak() : sampler_([this] {
      while (!done_) {
        peak_ = std::max(peak_.load(), TreeResidentKiB());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }) {}
  ~TreePeak() { Stop(); }
  double StopMiB() {
    Stop();
    return static_cast<double>(peak_) / 1024.0;
  }

private:
  void Stop() {
    done_ = true;
    if (sampler_.joinable())
      sampler_.join();
  }
  std::atomic<bool> done_{false};
  std::atomic<long> peak_{0};
  std::thread sampler_;
};

// A folder of links to every program of /usr/bin but wkhtmltopdf, made once.
std::string SearchPathWithoutWkhtmltopdf() {
  static const std::string folder = [] {
    const fs::path links = fs::temp_directory_path() / "bookconv-bench-no-wkhtmltopdf";
    fs::create_directories(links);
    for (const auto &entry : fs::directory_iterator("/usr/bin"))
      if (entry.path().filename() != "wkhtmltopdf" && !fs::exists(links / entry.path().filename()))
        fs::create_symlink(entry.path(), links / entry.path().filename());
    return links.string();
  }();
  return folder;
}

// Converts with the search path of `engine`: 0 as installed, 1 Chromium.
void WholeConversion(benchmark::State &state) {
  const std::string installed = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  if (state.range(0) == 1)
    setenv("PATH", SearchPathWithoutWkhtmltopdf().c_str(), 1);
  double peak = 0;
  for (auto _ : state) {
    WorkFolder work;
    Silence silence;
    TreePeak tree;
    if (ConvertBook(book.c_str(), (work.Path() + "book.pdf").c_str(), work.Path().c_str()) != 0)
      state.SkipWithError("conversion failed");
    peak = std::max(peak, tree.StopMiB());
  }
  setenv("PATH", installed.c_str(), 1);
  SetPeaks(state);
  state.counters["all_peak_MiB"] = peak;
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
BENCHMARK(WholeConversion)
    ->ArgName("chromium")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
