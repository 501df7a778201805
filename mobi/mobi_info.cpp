// The exported entry points and the service table. Every service function
// runs its body through Guarded, so no exception ever crosses into C.
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "mobi_operator.h"
#include "tarn_mobi.h"

struct MobiData {
  MobiOperator *mobiOperator;
};

namespace {

const char copyright[] = "Tarn_Mobi " TARN_MOBI_VERSION
                         ": MOBI e-book unpacker. Copyright (c) 2026 the bookconv developers.";

// The one place where the library's exceptions stop: running out of memory
// is 3, any other failure 13, so a caller can tell the two apart.
template <typename Body> int Guarded(Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    return MOBI_ERR_MEMORY;
  } catch (...) {
    return MOBI_ERR_INTERNAL;
  }
}

// A zero-filled malloc'd copy of `text`, or null when there is none.
char *HeapCopy(std::optional<std::string_view> text) {
  if (!text)
    return nullptr;
  char *copy = static_cast<char *>(std::calloc(text->size() + 1, 1));
  if (copy != nullptr)
    std::memcpy(copy, text->data(), text->size());
  return copy;
}

MobiOperator *OpenBook(MobiData *data) {
  if (data == nullptr || data->mobiOperator == nullptr || !data->mobiOperator->IsOpen())
    return nullptr;
  return data->mobiOperator;
}

void ClearUp(MobiData *data) {
  if (data == nullptr || data->mobiOperator == nullptr)
    return;
  Guarded([&] {
    delete data->mobiOperator;
    return MOBI_OK;
  });
  data->mobiOperator = nullptr;
}

int Init(MobiData *data, const char *path) {
  if (data == nullptr)
    return MOBI_ERR_NOT_OPEN;
  if (path == nullptr)
    return MOBI_ERR_OPEN;
  // An operator left from an earlier book is released rather than leaked.
  ClearUp(data);
  return Guarded([&] {
    data->mobiOperator = new MobiOperator();
    return data->mobiOperator->Init(path);
  });
}

int MobiToHtml(MobiData *data, const char *htmlPath) {
  MobiOperator *book = OpenBook(data);
  if (book == nullptr)
    return MOBI_ERR_NOT_OPEN;
  if (htmlPath == nullptr)
    return MOBI_ERR_OPEN;
  return Guarded([&] { return book->UnpackBook(htmlPath); });
}

// Runs `get` on the open book and hands its text to the caller.
template <typename Get> char *CopyFromBook(MobiData *data, Get get) {
  MobiOperator *book = OpenBook(data);
  if (book == nullptr)
    return nullptr;
  char *copy = nullptr;
  Guarded([&] {
    copy = HeapCopy(get(*book));
    return MOBI_OK;
  });
  return copy;
}

std::optional<std::string_view> Present(const std::optional<std::string> &text) {
  return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

char *GetTitle(MobiData *data) {
  return CopyFromBook(data, [](const MobiOperator &book) { return Present(book.GetTitle()); });
}

char *GetAuthor(MobiData *data) {
  return CopyFromBook(data, [](const MobiOperator &book) { return Present(book.GetAuthor()); });
}

char *GetCoverImageName(MobiData *data) {
  return CopyFromBook(data, [](const MobiOperator &book) {
    const std::string &name = book.GetCoverImageName();
    return name.empty() ? std::nullopt : std::optional<std::string_view>(name);
  });
}

char *GetMetadata(MobiData *data, const char *name) {
  if (name == nullptr)
    return nullptr;
  return CopyFromBook(data, [&](const MobiOperator &book) { return book.GetFact(name); });
}

} // namespace

extern "C" {

TARN_MOBI_API MobiService *CreateMobiService(void) {
  MobiService *service = static_cast<MobiService *>(std::calloc(1, sizeof(MobiService)));
  if (service == nullptr)
    return nullptr;
  service->data = static_cast<MobiData *>(std::calloc(1, sizeof(MobiData)));
  if (service->data == nullptr) {
    std::free(service);
    return nullptr;
  }
  service->Init = Init;
  service->ClearUp = ClearUp;
  service->MobiToHtml = MobiToHtml;
  service->GetTitle = GetTitle;
  service->GetAuthor = GetAuthor;
  service->GetCoverImageName = GetCoverImageName;
  service->GetMetadata = GetMetadata;
  return service;
}

TARN_MOBI_API void FreeMobiService(MobiService *service) {
  if (service == nullptr)
    return;
  std::free(service->data);
  std::free(service);
}

TARN_MOBI_API char *GetMobiCopyright(void) { return strdup(copyright); }

} // extern "C"
