// Failures inside the library reach the caller as result codes that say what
// went wrong. The file layer is replaced here by one that fails as the test
// asks, so both running out of memory and any other failure meet the boundary.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "tarn_mobi.h"
#include "tarn_tool.h"
#include "test_files.h"

namespace {

enum class Failure { kNone, kMemory, kOther };
Failure failure = Failure::kNone;

} // namespace

// Stands in for Tarn_Tool's FilesOpen; without a failure asked for, it is the real one.
extern "C" __attribute__((visibility("default"))) FILES *FilesOpen(const char *const *paths,
                                                                   size_t count, const char *mode) {
  if (failure == Failure::kMemory)
    throw std::bad_alloc();
  if (failure == Failure::kOther)
    throw std::runtime_error("the file layer broke");
  using Open = FILES *(*)(const char *const *, size_t, const char *);
  static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "FilesOpen"));
  return real(paths, count, mode);
}

namespace {

int InitWith(Failure kind, const std::string &path) {
  MobiService *service = CreateMobiService();
  failure = kind;
  const int result = service->Init(service->data, path.c_str());
  failure = Failure::kNone;
  service->ClearUp(service->data);
  FreeMobiService(service);
  return result;
}

TEST(CBoundary, TellsOutOfMemoryFromOtherFailures) {
  const testbook::ScratchFolder scratch;
  const std::string missing = scratch.File("missing.mobi");
  EXPECT_EQ(InitWith(Failure::kNone, missing), MOBI_ERR_OPEN); // the real layer answers
  EXPECT_EQ(InitWith(Failure::kMemory, missing), MOBI_ERR_MEMORY);
  EXPECT_EQ(InitWith(Failure::kOther, missing), MOBI_ERR_INTERNAL);
}

} // namespace
