// Every real book opens as the corpus README expects.
#include "tarn_mobi.h"

#include <gtest/gtest.h>

#include <string>

#include "test_files.h"

namespace {

bool StartsWith(const std::string &text, const std::string &prefix) {
  return text.rfind(prefix, 0) == 0;
}

TEST(Corpus, EveryBookOpensAsExpected) {
  SKIP_WITHOUT_CORPUS();
  const auto books = testbook::CorpusBooks();
  ASSERT_FALSE(books.empty());
  for (const auto &book : books) {
    const std::string name = book.filename().string();
    MobiService *service = CreateMobiService();
    ASSERT_NE(service, nullptr);
    const int result = service->Init(service->data, book.c_str());
    if (name == "odd-libmobi-textread-palmdoc.mobi") {
      EXPECT_EQ(result, MOBI_ERR_NOT_MOBI) << name;
    } else if (!StartsWith(name, "bad-")) {
      EXPECT_EQ(result, MOBI_OK) << name;
    }
    service->ClearUp(service->data);
    FreeMobiService(service);
  }
}

} // namespace
