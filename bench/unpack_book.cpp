// Runs MobiToHtml once, for measuring time and peak memory from outside:
//   unpack_book BOOK HTML        unpacks BOOK into HTML, exits with the result
//   unpack_book --linked BOOK    writes the generated 5 MB linked book
#include <cstdio>
#include <cstring>

#include "linked_book.h"
#include "tarn_mobi.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s BOOK HTML | --linked BOOK\n", argv[0]);
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
