#include "book_run.h"

#include <cstdlib>

#include "tarn_mobi.h"

namespace testbook {

BookRun RunBook(const std::string &bookPath, const std::string &htmlPath) {
  BookRun run;
  MobiService *service = CreateMobiService();
  if (service == nullptr)
    return run;
  run.init = service->Init(service->data, bookPath.c_str());
  if (run.init == MOBI_OK) {
    run.unpack = service->MobiToHtml(service->data, htmlPath.c_str());
    std::free(service->GetTitle(service->data));
    std::free(service->GetAuthor(service->data));
    std::free(service->GetCoverImageName(service->data));
  }
  service->ClearUp(service->data);
  FreeMobiService(service);
  return run;
}

bool IsInitResult(int code) {
  switch (code) {
  case MOBI_OK:
  case MOBI_ERR_OPEN:
  case MOBI_ERR_MEMORY:
  case MOBI_ERR_NOT_MOBI:
    return true;
  default:
    return false;
  }
}

bool IsUnpackResult(int code) {
  switch (code) {
  case MOBI_OK:
  case MOBI_ERR_OPEN:
  case MOBI_ERR_WRITE:
  case MOBI_ERR_MEMORY:
  case MOBI_ERR_NO_FOLDER:
  case MOBI_ERR_ENCODING:
  case MOBI_ERR_COMPRESSION:
  case MOBI_ERR_RECORD_SIZE:
  case MOBI_ERR_ENCRYPTED:
  case MOBI_ERR_DAMAGED:
  case MOBI_ERR_KF8:
  case MOBI_ERR_RESOURCE:
  case MOBI_ERR_TEXT_SIZE:
    return true;
  default:
    return false;
  }
}

bool IsDocumented(const BookRun &run) {
  if (!IsInitResult(run.init))
    return false;
  return run.init == MOBI_OK ? IsUnpackResult(run.unpack) : run.unpack == BookRun::kNotCalled;
}

} // namespace testbook
