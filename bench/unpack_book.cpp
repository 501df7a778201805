// Runs MobiToHtml once, for measuring time and peak memory from outside
// (compare_unpack.py runs it side by side with an older build):
//   unpack_book BOOK HTML               unpacks BOOK into HTML, exits with the result
//   unpack_book --linked BOOK [PARAS]   writes the generated linked book (20,000
//                                       paragraphs, 5 MB, unless PARAS says otherwise)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "linked_book.h"
#include "tarn_mobi.h"

int main(int argc, char **argv) {
  if (argc == 4 && std::strcmp(argv[1], "--linked") == 0) {
    WriteLinkedBook(argv[2], std::strtoul(argv[3], nullptr, 10));
    return 0;
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s BOOK HTML | --linked BOOK [PARAGRAPHS]\n", argv[0]);
    return 64;
  }
  if (std::strcmp(argv[1], "--linked") == 0) {
    WriteLinkedBook(argv[2]);
    return 0;
  }
  MobiService *service = CreateMobiService();
  int result = service->Init(service->data, argv[1]);
  if (result == MOBI_OK)
    result = service->MobiToHtml(service->data, argv[2]);
  service->ClearUp(service->data);
  FreeMobiService(service);
  std::printf("MobiToHtml: %d\n", result);
  return result;
}
