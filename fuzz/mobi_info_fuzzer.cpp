// The whole library as a caller meets it: the input is a book file, unpacked
// through the exported C interface into a scratch folder. Every run must end
// with documented result codes; the sanitizers catch the rest.
#include <cstddef>
#include <cstdint>

#include "book_run.h"
#include "fuzz_check.h"
#include "mobi_writer.h"

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::DefaultMaxLen(argc, argv, fuzz::kMaxWholeBook);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string book = fuzz::Scratch().File("book.mobi");
  testbook::WriteFile(book, testbook::Bytes(data, data + size));
  const testbook::BookRun run = testbook::RunBook(book, fuzz::Scratch().File("book.htm"));
  FUZZ_CHECK(testbook::IsDocumented(run));
  // The next input overwrites the book and its HTML file; only the resource
  // folder, which the library adds to, must go. Fewer file operations per
  // input keep the run fast.
  fuzz::RemoveFromScratch("book_files");
  return 0;
}
