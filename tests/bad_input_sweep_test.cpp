// Damaged books through the C interface. For every real book and every
// sample book: each truncation at a record boundary and at sampled offsets,
// and seeded corruptions of single bytes and 32-bit fields in record 0, the
// EXTH block, the HUFF and CDIC records, the first text record and the record
// list, the same in a hybrid's KF8 section, and a KF8 section's FDST and
// index records. Each run happens in a forked child under a time bound and a
// heap bound, and must end with documented result codes and, in the
// sanitizer build, with nothing leaked.
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
#include "common/byte_reader.h"
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
#include <sanitizer/lsan_interface.h>
// The sanitizer runtime's allocator hooks, for which GCC ships no header.
extern "C" {
int __sanitizer_install_malloc_and_free_hooks(void (*onMalloc)(const volatile void *, std::size_t),
                                              void (*onFree)(const volatile void *));
std::size_t __sanitizer_get_allocated_size(const volatile void *pointer);
}
#endif

namespace {

using testbook::Bytes;
namespace fs = std::filesystem;

constexpr unsigned kSecondsPerRun = 20;
// Each run unpacks a whole book, so a large book gets fewer runs: an even
// sample of its damaged copies, about this many bytes of book in all.
constexpr std::size_t kBookBytesPerSweep = std::size_t{32} << 20;
constexpr int kSampledTruncations = 12;
constexpr int kCorruptionsPerRegion = 20;

// The library may hold a small multiple of the book in memory, and no more.
std::int64_t HeapBound(std::size_t bookSize) {
  return 32 * 1024 * 1024 + 8 * static_cast<std::int64_t>(bookSize);
}

// A damaged copy of a book, described rather than held: the book cut at
// `cut`, then `patch` written at `at`.
struct Mutant {
  std::string what;
  std::size_t cut = SIZE_MAX;
  std::size_t at = 0;
  Bytes patch;
};

Bytes Apply(const Bytes &book, const Mutant &mutant) {
  Bytes bytes(book.begin(), book.begin() + std::min(mutant.cut, book.size()));
  for (std::size_t i = 0; i < mutant.patch.size() && mutant.at + i < bytes.size(); ++i)
    bytes[mutant.at + i] = mutant.patch[i];
  return bytes;
}

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

constexpr std::uint32_t kFileVersion8 = 8;
constexpr std::uint32_t kNoIndex = 0xFFFFFFFF;

std::vector<Region> RegionsOf(const Bytes &bytes) {
  const ByteReader book(bytes);
  const std::size_t count = book.U16BE(76).value_or(0);
  std::vector<Region> regions{{"record list", 76, std::min(bytes.size(), PdbHeaderEntry(count))}};
  // Record i as the list places it, cut to the file.
  auto record = [&](const std::string &name, std::size_t i) {
    const std::size_t begin = std::min<std::size_t>(RecordOffset(book, i), bytes.size());
    const std::size_t end = i + 1 < count
                                ? std::min<std::size_t>(RecordOffset(book, i + 1), bytes.size())
                                : bytes.size();
    return Region{name, begin, std::max(begin, end)};
  };
  auto contents = [&](const Region &region) {
    return book.From(region.begin).Slice(0, region.end - region.begin).value_or(ByteReader());
  };
  // A section's header record `k` and what it names: its first text record,
  // its EXTH block, its HUFF and CDIC records, and in a KF8 header its FDST
  // record and the first records of its skeleton, fragment and contents indexes.
  auto section = [&](const std::string &prefix, std::size_t k) {
    const Region header = record(prefix + "record " + std::to_string(k), k);
    regions.push_back(header);
    const ByteReader h = contents(header);
    if (k + 1 < count)
      regions.push_back(record(prefix + "text record 1", k + 1));
    const std::size_t exth = 16 + h.U32BE(20).value_or(0);
    if (h.Holds(exth, 12) && h.U32BE(exth) == 0x45585448) { // "EXTH"
      const std::size_t length = std::max<std::size_t>(12, h.U32BE(exth + 4).value_or(0));
      regions.push_back(
          {prefix + "EXTH", header.begin + exth, header.begin + std::min(h.Size(), exth + length)});
    }
    if (h.U16BE(0) == 17480) {
      const std::uint64_t huff = k + std::uint64_t{h.U32BE(112).value_or(0)};
      const std::uint32_t huffCount = h.U32BE(116).value_or(0);
      for (std::uint64_t i = huff; i < count && i - huff < huffCount && i - huff < 4; ++i)
        regions.push_back(record(prefix + (i == huff ? "HUFF" : "CDIC"), i));
    }
    if (h.U32BE(36) != kFileVersion8)
      return;
    const std::pair<std::size_t, const char *> named[] = {{0xC0, "FDST"},
                                                          {0xFC, "skeleton index"},
                                                          {0xF8, "fragment index"},
                                                          {0xF4, "contents index"}};
    for (const auto &[field, name] : named) {
      const std::uint32_t relative = h.U32BE(field).value_or(kNoIndex);
      for (std::uint64_t i = k + std::uint64_t{relative};
           relative != kNoIndex && i < count && i <= k + relative + 1; ++i)
        regions.push_back(record(prefix + name + " record " + std::to_string(i - k - relative), i));
    }
  };
  if (count == 0)
    return regions;
  section("", 0);
  // A hybrid's KF8 section starts after its BOUNDARY record.
  for (std::size_t i = 1; i + 1 < count; ++i)
    if (const Region boundary = record("", i);
        boundary.end - boundary.begin == 8 &&
        std::equal(bytes.begin() + boundary.begin, bytes.begin() + boundary.end, "BOUNDARY")) {
      section("KF8 ", i + 1);
      break;
    }
  return regions;
}

// ---------------------------------------------------------------------------
// The damaged copies

std::vector<Mutant> Truncations(const Bytes &bytes, std::mt19937 &random) {
  const ByteReader book(bytes);
  const std::size_t count = book.U16BE(76).value_or(0);
  std::vector<std::size_t> cuts{0, 1, 60, 67, 77, 78, PdbHeaderEntry(count) - 1};
  for (std::size_t i = 0; i < count; ++i)
    cuts.push_back(RecordOffset(book, i));
  for (int i = 0; i < kSampledTruncations && !bytes.empty(); ++i)
    cuts.push_back(random() % bytes.size());
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

  std::vector<Mutant> mutants;
  for (std::size_t cut : cuts)
    if (cut < bytes.size())
      mutants.push_back({"cut at " + std::to_string(cut), cut, 0, {}});
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
      const std::size_t at = region.begin + random() % length;
      const auto value = static_cast<std::uint8_t>(random());
      mutants.push_back({region.name + ": byte " + std::to_string(at) + " = " +
                             std::to_string(value),
                         SIZE_MAX, at, Bytes{value}});
    }
    for (int i = 0; i < kCorruptionsPerRegion && length >= 4; ++i) {
      const std::size_t at = region.begin + (random() % (length - 3) & ~std::size_t{1});
      const std::uint32_t value = BoundaryValue(bytes.size(), random);
      Bytes field;
      testbook::AppendU32BE(field, value);
      mutants.push_back({region.name + ": u32 at " + std::to_string(at) + " = " +
                             std::to_string(value),
                         SIZE_MAX, at, field});
    }
  }
  return mutants;
}

// At most `count` of the mutants, spread evenly over the list.
std::vector<Mutant> EvenSample(std::vector<Mutant> mutants, std::size_t count) {
  if (mutants.size() <= count)
    return mutants;
  std::vector<Mutant> sample;
  for (std::size_t i = 0; i < count; ++i)
    sample.push_back(std::move(mutants[i * mutants.size() / count]));
  return sample;
}

// ---------------------------------------------------------------------------
// Heap accounting inside a child

constexpr int kExitOverHeap = 42;

#if defined(SWEEP_ASAN)
// Live bytes allocated since the run began; the child stops at once when they
// pass the bound, before a runaway allocation can be used.
std::atomic<std::int64_t> liveHeap{0};
std::atomic<std::int64_t> peakHeap{0};
std::atomic<std::int64_t> heapBound{INT64_MAX};

void OnMalloc(const volatile void *, std::size_t size) {
  const std::int64_t live = liveHeap += static_cast<std::int64_t>(size);
  if (live > peakHeap)
    peakHeap = live;
  if (live > heapBound)
    _exit(kExitOverHeap);
}

void OnFree(const volatile void *pointer) {
  liveHeap -= static_cast<std::int64_t>(__sanitizer_get_allocated_size(pointer));
}

void WatchHeap() { __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree); }
void StartRun(std::int64_t bound) {
  liveHeap = 0;
  peakHeap = 0;
  heapBound = bound;
}
std::int64_t EndRun() {
  heapBound = INT64_MAX;
  return peakHeap;
}
int Leaked() { return __lsan_do_recoverable_leak_check(); }
#else
// Without the sanitizer's hooks the address space is capped, and the peak is
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

void WatchHeap() {}
void StartRun(std::int64_t bound) {
  const auto limit = static_cast<rlim_t>(StatusField("VmSize:") + bound);
  const rlimit cap{limit, limit};
  setrlimit(RLIMIT_AS, &cap);
  std::ofstream("/proc/self/clear_refs") << "5"; // restart the peak
  residentAtStart = StatusField("VmRSS:");
}
std::int64_t EndRun() {
  const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
  setrlimit(RLIMIT_AS, &none);
  return StatusField("VmHWM:") - residentAtStart;
}
int Leaked() { return 0; }
#endif

// ---------------------------------------------------------------------------
// Runs in child processes, many to a child

// What a child sends back: one report per finished run, then one at the end.
struct Report {
  enum Kind { kRun, kEnd } kind = kRun;
  testbook::BookRun run;
  std::int64_t peakHeap = 0; // bytes held at most, above those at the start of the run
  int leaked = 0;
};

struct Paths {
  std::string book;
  fs::path out;
  std::string Html() const { return (out / "book.htm").string(); }
};

[[noreturn]] void RunChild(const Bytes &original, const std::vector<Mutant> &mutants,
                           std::size_t first, std::size_t last, const Paths &paths, int pipe) {
  bool sent = true;
  WatchHeap();
  for (std::size_t i = first; i < last && sent; ++i) {
    const Bytes bytes = Apply(original, mutants[i]);
    testbook::WriteFile(paths.book, bytes);
    fs::create_directory(paths.out);
    Report report;
    alarm(kSecondsPerRun);
    StartRun(HeapBound(bytes.size()));
    report.run = testbook::RunBook(paths.book, paths.Html());
    report.peakHeap = EndRun();
    alarm(0);
    fs::remove_all(paths.out);
    sent = write(pipe, &report, sizeof report) == sizeof report;
  }
  Report end;
  end.kind = Report::kEnd;
  end.leaked = Leaked();
  sent = sent && write(pipe, &end, sizeof end) == sizeof end;
  _exit(sent ? 0 : 1);
}

struct Batch {
  std::vector<Report> runs; // one per run that finished, in order
  std::string death;        // how the child ended early, or empty
  bool leaked = false;
};

Batch RunBatch(const Bytes &original, const std::vector<Mutant> &mutants, std::size_t first,
               std::size_t last, const Paths &paths) {
  Batch batch;
  int pipes[2];
  if (pipe(pipes) != 0) {
    batch.death = "no pipe";
    return batch;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    close(pipes[0]);
    RunChild(original, mutants, first, last, paths, pipes[1]);
  }
  close(pipes[1]);
  Report report;
  bool ended = false;
  while (!ended && read(pipes[0], &report, sizeof report) == sizeof report) {
    if (report.kind == Report::kEnd) {
      ended = true;
      batch.leaked = report.leaked != 0;
    } else {
      batch.runs.push_back(report);
    }
  }
  close(pipes[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child)
    batch.death = "no child process";
  else if (WIFSIGNALED(status))
    batch.death = WTERMSIG(status) == SIGALRM
                      ? "took longer than " + std::to_string(kSecondsPerRun) + " s"
                      : "killed by signal " + std::to_string(WTERMSIG(status));
  else if (WEXITSTATUS(status) == kExitOverHeap)
    batch.death = "held more than its bound of memory";
  else if (WEXITSTATUS(status) != 0 || !ended)
    batch.death = "crashed (exit " + std::to_string(WEXITSTATUS(status)) + ")";
  return batch;
}

// What is wrong with a finished run, or empty.
std::string Judge(const Report &report, std::size_t size) {
  if (!testbook::IsDocumented(report.run))
    return "undocumented results: Init " + std::to_string(report.run.init) + ", MobiToHtml " +
           std::to_string(report.run.unpack);
  if (report.peakHeap > HeapBound(size))
    return "held " + std::to_string(report.peakHeap) + " bytes";
  return {};
}

// ---------------------------------------------------------------------------
// The sweep, one test per book

constexpr std::size_t kRunsPerChild = 64;

struct SweepBook {
  std::string name;
  Bytes bytes;       // empty for a real book, read when its test runs
  std::string path;  // a real book's file
};

std::vector<SweepBook> SweepBooks() {
  std::vector<SweepBook> books;
  for (const testbook::SampleBook &book : testbook::SampleBooks())
    books.push_back({book.name, book.bytes, {}});
  for (const fs::path &path : testbook::CorpusBooks())
    books.push_back({path.filename().string(), {}, path.string()});
  return books;
}

Bytes BytesOf(const SweepBook &book) {
  return book.bytes.empty() ? testbook::ReadFile(book.path) : book.bytes;
}

// Test names and messages show the book by its name.
void PrintTo(const SweepBook &book, std::ostream *out) { *out << book.name; }

class BadInputSweep : public ::testing::TestWithParam<SweepBook> {
protected:
  void Fail(const Mutant &mutant, const std::string &why) {
    if (++failures > 10)
      return;
    ADD_FAILURE() << GetParam().name << ", " << mutant.what << ": " << why;
    const fs::path kept = fs::current_path() / "sweep-failures";
    fs::create_directories(kept);
    testbook::WriteFile((kept / (GetParam().name + "-" + std::to_string(failures))).string(),
                        Apply(original, mutant));
  }

  // Runs mutants[first, last) in as few children as their failures allow.
  void Sweep(std::size_t first, std::size_t last, bool findLeaks) {
    for (std::size_t next = first; next < last;) {
      const std::size_t end = std::min(last, next + kRunsPerChild);
      const Batch batch = RunBatch(original, mutants, next, end, paths);
      for (const Report &report : batch.runs) {
        const Mutant &mutant = mutants[next];
        const std::size_t size = Apply(original, mutant).size();
        if (const std::string why = Judge(report, size); !why.empty())
          Fail(mutant, why);
        if (report.peakHeap > worstPeak) {
          worstPeak = report.peakHeap;
          worstWhat = mutant.what;
        }
        ++next;
      }
      if (!batch.death.empty()) {
        fs::remove_all(paths.out);
        Fail(mutants[next++], batch.death);
      } else if (batch.leaked) {
        // Find the leaking runs one by one; a leak none of them repeats alone
        // is still one.
        const std::size_t start = next - batch.runs.size();
        const int before = failures;
        for (std::size_t i = start; findLeaks && end - start > 1 && i < end; ++i)
          Sweep(i, i + 1, false);
        if (failures == before)
          Fail(mutants[start], end - start == 1 ? "leaked"
                                                : "leaked in the child that ran copies " +
                                                      std::to_string(start) + " to " +
                                                      std::to_string(end - 1));
      }
    }
  }

  Bytes original;
  std::vector<Mutant> mutants;
  Paths paths;
  int failures = 0;
  std::int64_t worstPeak = 0;
  std::string worstWhat;
};

TEST_P(BadInputSweep, EveryDamagedCopyEndsCleanly) {
  original = BytesOf(GetParam());
  std::mt19937 random(static_cast<std::uint32_t>(std::hash<std::string>()(GetParam().name)));
  mutants = Truncations(original, random);
  for (Mutant &mutant : Corruptions(original, random))
    mutants.push_back(std::move(mutant));
  const std::size_t made = mutants.size();
  mutants = EvenSample(std::move(mutants),
                       std::max<std::size_t>(16, kBookBytesPerSweep / (original.size() + 1)));
  testbook::ScratchFolder scratch;
  paths = {scratch.File("book.mobi"), scratch.Path() / "out"};

  Sweep(0, mutants.size(), true);
  EXPECT_EQ(failures, 0) << "failing copies are kept in sweep-failures/";
  RecordProperty("runs", static_cast<int>(mutants.size()));
  RecordProperty("peak_heap_bytes", std::to_string(worstPeak));
  std::printf("%s: %zu runs of %zu copies, peak %lld bytes (%s)\n", GetParam().name.c_str(),
              mutants.size(), made, static_cast<long long>(worstPeak), worstWhat.c_str());
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
