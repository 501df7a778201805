// Runs MobiToHtml once, for measuring time and peak memory from outside
// (compare_unpack.py runs it side by side with an older build; the last line
// of its output is its peak resident set):
//   unpack_book BOOK HTML               unpacks BOOK into HTML, exits with the result
//   unpack_book --linked BOOK [PARAS]   writes the generated linked book (20,000
//                                       paragraphs, 5 MB, unless PARAS says otherwise)
//   unpack_book --linked-kf8 BOOK [CHAPTERS]
//                                       writes its KF8 form (100 chapters, 2.6 MB,
//                                       unless CHAPTERS says otherwise)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linked_book.h"
#include "tarn_mobi.h"

namespace {

// This process's own peak resident set (VmHWM). Unlike the rusage a parent
// collects, it does not start from the parent's size at the spawn.
long PeakResidentKb() {
  std::FILE *status = std::fopen("/proc/self/status", "r");
  long peak = 0;
  char line[256];
  while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
    if (std::sscanf(line, "VmHWM: %ld", &peak) == 1)
      break;
  if (status != nullptr)
    std::fclose(status);
  return peak;
}

} // namespace

int main(int argc, char **argv) {
  const bool linked = argc >= 3 && std::strcmp(argv[1], "--linked") == 0;
  const bool linkedKf8 = argc >= 3 && std::strcmp(argv[1], "--linked-kf8") == 0;
  if ((linked || linkedKf8) && argc <= 4) {
    const unsigned long count = argc == 4 ? std::strtoul(argv[3], nullptr, 10) : 0;
    if (linked)
      count ? WriteLinkedBook(argv[2], count) : WriteLinkedBook(argv[2]);
    else
      count ? WriteLinkedKf8Book(argv[2], count) : WriteLinkedKf8Book(argv[2]);
    return 0;
  }
  if (argc != 3) {
    std::fprintf(
        stderr, "usage: %s BOOK HTML | --linked BOOK [PARAGRAPHS] | --linked-kf8 BOOK [CHAPTERS]\n",
        argv[0]);
    return 64;
  }
  MobiService *service = CreateMobiService();
  int result = service->Init(service->data, argv[1]);
  if (result == MOBI_OK)
    result = service->MobiToHtml(service->data, argv[2]);
  service->ClearUp(service->data);
  FreeMobiService(service);
  std::printf("MobiToHtml: %d\npeak_rss_kB: %ld\n", result, PeakResidentKb());
  return result;
}
