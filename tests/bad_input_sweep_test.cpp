// Damaged books through the C interface. For every real book and every
// sample book: each truncation at a record boundary and at sampled offsets,
// and seeded corruptions of single bytes and 32-bit fields in record 0, the
// EXTH block, the HUFF and CDIC records, the first text record and the record
// list. Each run happens in a forked child under a time bound and a heap
// bound, and must end with documented result codes and, in the sanitizer
// build, with nothing leaked.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "book_run.h"
#include "byte_reader.h"
#include "mobi_writer.h"
#include "sample_books.h"
#include "test_files.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SWEEP_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SWEEP_ASAN 1
#endif
#if defined(SWEEP_ASAN)
#include <sanitizer/allocator_interface.h>
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using testbook::Bytes;
namespace fs = std::filesystem;

constexpr unsigned kSecondsPerRun = 20;
constexpr int kSampledTruncations = 12;
constexpr int kCorruptionsPerRegion = 30;

// The library may hold a small multiple of the book in memory, and no more.
std::int64_t HeapBound(std::size_t bookSize) {
  return 32 * 1024 * 1024 + 8 * static_cast<std::int64_t>(bookSize);
}

struct Mutant {
  std::string what;
  Bytes bytes;
};

// ---------------------------------------------------------------------------
// Where the fields of a book lie

struct Region {
  std::string name;
  std::size_t begin = 0;
  std::size_t end = 0;
};

// Where entry `index` of the record list starts.
std::size_t PdbHeaderEntry(std::size_t index) { return 78 + 8 * index; }

std::uint32_t RecordOffset(const ByteReader &book, std::size_t index) {
  return book.U32BE(PdbHeaderEntry(index)).value_or(0);
}

std::vector<Region> RegionsOf(const Bytes &bytes) {
  const ByteReader book(bytes);
  const std::size_t count = book.U16BE(76).value_or(0);
  std::vector<Region> regions{{"record list", 76, std::min(bytes.size(), PdbHeaderEntry(count))}};
  // Record i as the list places it, cut to the file.
  auto record = [&](const std::string &name, std::size_t i) {
    const std::size_t begin = std::min<std::size_t>(RecordOffset(book, i), bytes.size());
    const std::size_t end =
        i + 1 < count ? std::min<std::size_t>(RecordOffset(book, i + 1), bytes.size()) : bytes.size();
    return Region{name, begin, std::max(begin, end)};
  };
  if (count == 0)
    return regions;
  const Region zero = record("record 0", 0);
  regions.push_back(zero);
  const ByteReader r0 = book.From(zero.begin).Slice(0, zero.end - zero.begin).value_or(ByteReader());
  if (count > 1)
    regions.push_back(record("text record 1", 1));
  const std::size_t exth = 16 + r0.U32BE(20).value_or(0);
  if (r0.Holds(exth, 12) && r0.U32BE(exth) == 0x45585448) { // "EXTH"
    const std::size_t length = std::max<std::size_t>(12, r0.U32BE(exth + 4).value_or(0));
    regions.push_back({"EXTH", zero.begin + exth, zero.begin + std::min(r0.Size(), exth + length)});
  }
  if (r0.U16BE(0) == 17480) {
    const std::uint32_t huff = r0.U32BE(112).value_or(0);
    const std::uint32_t huffCount = r0.U32BE(116).value_or(0);
    for (std::uint32_t i = huff; i < count && i - huff < huffCount && i - huff < 4; ++i)
      regions.push_back(record(i == huff ? "HUFF" : "CDIC", i));
  }
  return regions;
}

// ---------------------------------------------------------------------------
// The damaged copies

std::vector<Mutant> Truncations(const Bytes &bytes, std::mt19937 &random) {
  const ByteReader book(bytes);
  const std::size_t count = book.U16BE(76).value_or(0);
  std::vector<std::size_t> cuts{0, 1, 60, 67, 77, 78, PdbHeaderEntry(count) - 1};
  for (std::size_t i = 0; i < count; ++i) {
    cuts.push_back(RecordOffset(book, i));
    cuts.push_back(RecordOffset(book, i) + 1);
  }
  for (int i = 0; i < kSampledTruncations && !bytes.empty(); ++i)
    cuts.push_back(random() % bytes.size());
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

  std::vector<Mutant> mutants;
  for (std::size_t cut : cuts)
    if (cut < bytes.size())
      mutants.push_back({"cut at " + std::to_string(cut), Bytes(bytes.begin(), bytes.begin() + cut)});
  return mutants;
}

// Values that push a length, count or offset to its edges.
std::uint32_t BoundaryValue(std::size_t bookSize, std::mt19937 &random) {
  const std::uint32_t size = static_cast<std::uint32_t>(bookSize);
  const std::uint32_t values[] = {0,          1,           2,          7,        8,
                                  12,         0xFF,        0x4448,     0x7FFF,   0x8000,
                                  0xFFFF,     0x10000,     size - 1,   size,     size + 1,
                                  size / 2,   0x0FFFFFFF,  0x7FFFFFFF, 0x80000000, 0xFFFFFFF0,
                                  0xFFFFFFFF, static_cast<std::uint32_t>(random())};
  return values[random() % std::size(values)];
}

std::vector<Mutant> Corruptions(const Bytes &bytes, std::mt19937 &random) {
  std::vector<Mutant> mutants;
  for (const Region &region : RegionsOf(bytes)) {
    if (region.end <= region.begin)
      continue;
    const std::size_t length = region.end - region.begin;
    for (int i = 0; i < kCorruptionsPerRegion; ++i) {
      Bytes copy = bytes;
      const std::size_t at = region.begin + random() % length;
      copy[at] = static_cast<std::uint8_t>(random());
      mutants.push_back({region.name + ": byte " + std::to_string(at) + " = " +
                             std::to_string(copy[at]),
                         std::move(copy)});
    }
    for (int i = 0; i < kCorruptionsPerRegion && length >= 4; ++i) {
      Bytes copy = bytes;
      const std::size_t at = region.begin + (random() % (length - 3) & ~std::size_t{1});
      const std::uint32_t value = BoundaryValue(bytes.size(), random);
      testbook::PutU32BE(copy, at, value);
      mutants.push_back({region.name + ": u32 at " + std::to_string(at) + " = " +
                             std::to_string(value),
                         std::move(copy)});
    }
  }
  return mutants;
}

// ---------------------------------------------------------------------------
// One run in a child process

struct Outcome {
  testbook::BookRun run;
  std::int64_t peakHeap = 0; // bytes above the heap at the start of the run
  int leaked = 0;
};

constexpr int kExitOverHeap = 42;

#if defined(SWEEP_ASAN)
std::atomic<std::int64_t> liveHeap{0};
std::atomic<std::int64_t> peakHeap{0};
std::int64_t heapBound = 0;

void OnMalloc(const volatile void *, std::size_t size) {
  const std::int64_t live = liveHeap += static_cast<std::int64_t>(size);
  if (live > peakHeap)
    peakHeap = live;
  if (live > heapBound)
    _exit(kExitOverHeap);
}

void OnFree(const volatile void *pointer) {
  liveHeap -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(const_cast<void *>(pointer)));
}

void BoundHeap(std::int64_t bound) {
  heapBound = bound;
  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}
std::int64_t PeakHeap() { return peakHeap; }
int Leaked() { return __lsan_do_recoverable_leak_check(); }
#else
// Without the sanitizer's hooks: the address space is capped, and the peak is
// the growth of the resident set.
std::int64_t StatusField(const char *field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0)
      return std::stoll(line.substr(std::string(field).size())) * 1024;
  return 0;
}
std::int64_t residentAtStart = 0;

void BoundHeap(std::int64_t bound) {
  const rlimit limit{static_cast<rlim_t>(StatusField("VmSize:") + bound),
                     static_cast<rlim_t>(StatusField("VmSize:") + bound)};
  setrlimit(RLIMIT_AS, &limit);
  std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak
  residentAtStart = StatusField("VmRSS:");
}
std::int64_t PeakHeap() { return StatusField("VmHWM:") - residentAtStart; }
int Leaked() { return 0; }
#endif

[[noreturn]] void RunChild(const std::string &book, const std::string &html, std::size_t size,
                           int report) {
  alarm(kSecondsPerRun);
  BoundHeap(HeapBound(size));
  Outcome outcome;
  outcome.run = testbook::RunBook(book, html);
  outcome.peakHeap = PeakHeap();
  outcome.leaked = Leaked();
  const bool sent = write(report, &outcome, sizeof outcome) == sizeof outcome;
  _exit(sent ? 0 : 1);
}

// Runs the book at `book` in a child; a failure message, or empty.
std::string RunIsolated(const std::string &book, const std::string &html, std::size_t size,
                        std::int64_t &peak) {
  int pipes[2];
  if (pipe(pipes) != 0)
    return "no pipe";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0)
    return "no fork";
  if (child == 0) {
    close(pipes[0]);
    RunChild(book, html, size, pipes[1]);
  }
  close(pipes[1]);
  Outcome outcome;
  const bool received = read(pipes[0], &outcome, sizeof outcome) == sizeof outcome;
  close(pipes[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    return WTERMSIG(status) == SIGALRM ? "took longer than " + std::to_string(kSecondsPerRun) + " s"
                                        : "killed by signal " + std::to_string(WTERMSIG(status));
  if (WEXITSTATUS(status) == kExitOverHeap)
    return "held more than " + std::to_string(HeapBound(size)) + " bytes";
  if (WEXITSTATUS(status) != 0 || !received)
    return "crashed (exit " + std::to_string(WEXITSTATUS(status)) + ")";
  peak = outcome.peakHeap;
  if (!testbook::IsDocumented(outcome.run))
    return "undocumented results: Init " + std::to_string(outcome.run.init) + ", MobiToHtml " +
           std::to_string(outcome.run.unpack);
  if (outcome.leaked != 0)
    return "leaked";
  if (outcome.peakHeap > HeapBound(size))
    return "held " + std::to_string(outcome.peakHeap) + " bytes";
  return {};
}

// ---------------------------------------------------------------------------
// The sweep, one test per book

struct SweepBook {
  std::string name;
  Bytes bytes;
};

std::vector<SweepBook> SweepBooks() {
  std::vector<SweepBook> books;
  for (const testbook::SampleBook &book : testbook::SampleBooks())
    books.push_back({book.name, book.bytes});
  for (const fs::path &path : testbook::CorpusBooks())
    books.push_back({path.filename().string(), {}});
  return books;
}

Bytes BytesOf(const SweepBook &book) {
  return book.bytes.empty() ? testbook::ReadFile((testbook::CorpusFolder() / book.name).string())
                            : book.bytes;
}

class BadInputSweep : public ::testing::TestWithParam<SweepBook> {};

TEST_P(BadInputSweep, EveryDamagedCopyEndsCleanly) {
  const Bytes original = BytesOf(GetParam());
  std::mt19937 random(static_cast<std::uint32_t>(std::hash<std::string>()(GetParam().name)));
  std::vector<Mutant> mutants = Truncations(original, random);
  for (Mutant &mutant : Corruptions(original, random))
    mutants.push_back(std::move(mutant));

  testbook::ScratchFolder scratch;
  const std::string book = scratch.File("book.mobi");
  const fs::path out = scratch.Path() / "out";
  std::int64_t worst = 0;
  std::string worstWhat;
  int failures = 0;
  for (const Mutant &mutant : mutants) {
    testbook::WriteFile(book, mutant.bytes);
    fs::create_directory(out);
    std::int64_t peak = 0;
    const std::string failure =
        RunIsolated(book, (out / "book.htm").string(), mutant.bytes.size(), peak);
    fs::remove_all(out);
    if (peak > worst) {
      worst = peak;
      worstWhat = mutant.what;
    }
    if (!failure.empty() && ++failures <= 10) {
      ADD_FAILURE() << GetParam().name << ", " << mutant.what << ": " << failure;
      const fs::path kept = fs::current_path() / "sweep-failures";
      fs::create_directories(kept);
      testbook::WriteFile((kept / (GetParam().name + "-" + std::to_string(failures))).string(),
                          mutant.bytes);
    }
  }
  EXPECT_EQ(failures, 0) << "failing copies are kept in sweep-failures/";
  RecordProperty("runs", static_cast<int>(mutants.size()));
  RecordProperty("peak_heap_bytes", std::to_string(worst));
  std::printf("%s: %zu runs, peak %lld bytes above the start (%s)\n", GetParam().name.c_str(),
              mutants.size(), static_cast<long long>(worst), worstWhat.c_str());
}

std::string TestName(const ::testing::TestParamInfo<SweepBook> &info) {
  std::string name = info.param.name;
  for (char &c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)))
      c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Books, BadInputSweep, ::testing::ValuesIn(SweepBooks()), TestName);

} // namespace
