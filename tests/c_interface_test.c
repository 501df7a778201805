/* Uses the library through its exported header only, as a C program would. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tarn_mobi.h"

static int failures = 0;

static void check(int condition, const char *what) {
  if (!condition) {
    fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

int main(void) {
  MobiService *service = CreateMobiService();
  char *notice = GetMobiCopyright();
  check(service != NULL && service->data != NULL, "CreateMobiService gives a table");
  check(notice != NULL && strlen(notice) > 0, "GetMobiCopyright gives a notice");
  free(notice);
  if (service == NULL)
    return 1;
  check(service->Init(service->data, "/nonexistent/book.mobi") == MOBI_ERR_OPEN,
        "Init of a missing file gives 1");
  check(service->MobiToHtml(service->data, "/tmp/x.htm") != MOBI_OK,
        "MobiToHtml after a failed Init fails");
  check(service->GetTitle(service->data) == NULL, "no title after a failed Init");
  service->ClearUp(service->data);
  service->ClearUp(service->data);
  FreeMobiService(service);
  FreeMobiService(NULL);
  return failures == 0 ? 0 : 1;
}
