// One book through the library's C interface, the way a caller drives it:
// Init, MobiToHtml, the three getters, ClearUp. Shared by the fuzzers and the
// bad-input sweep, which both judge a run by its result codes.
#pragma once

#include <string>

namespace testbook {

struct BookRun {
  static constexpr int kNotCalled = -1;
  int init = kNotCalled;
  int unpack = kNotCalled; // MobiToHtml runs only after a successful Init
};

// Unpacks `bookPath` to `htmlPath` (its images beside it) and releases
// everything; the caller removes the files written.
BookRun RunBook(const std::string &bookPath, const std::string &htmlPath);

// Whether a code is one that Init, or MobiToHtml, is documented to return.
bool IsInitResult(int code);
bool IsUnpackResult(int code);
// Both results of a run are documented ones.
bool IsDocumented(const BookRun &run);

} // namespace testbook
