// The service table as a caller sees it, through the exported header only.
#include "tarn_mobi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "kf8_writer.h"
#include "mobi_writer.h"
#include "test_files.h"

namespace {

using testbook::Bytes;

struct Service {
  Service() : table(CreateMobiService()) {}
  ~Service() {
    table->ClearUp(table->data);
    FreeMobiService(table);
  }
  int Init(const std::string &path) { return table->Init(table->data, path.c_str()); }
  MobiService *table;
};

using HeapText = std::unique_ptr<char, decltype(&std::free)>;
HeapText Take(char *text) { return HeapText(text, &std::free); }

TEST(MobiService, TableHoldsEveryFunction) {
  Service service;
  ASSERT_NE(service.table, nullptr);
  EXPECT_NE(service.table->data, nullptr);
  EXPECT_NE(service.table->Init, nullptr);
  EXPECT_NE(service.table->ClearUp, nullptr);
  EXPECT_NE(service.table->MobiToHtml, nullptr);
  EXPECT_NE(service.table->GetTitle, nullptr);
  EXPECT_NE(service.table->GetAuthor, nullptr);
  EXPECT_NE(service.table->GetCoverImageName, nullptr);
  EXPECT_NE(service.table->GetMetadata, nullptr);
  FreeMobiService(nullptr);
}

TEST(MobiService, CopyrightIsAFreshCopyEachTime) {
  HeapText one = Take(GetMobiCopyright());
  HeapText two = Take(GetMobiCopyright());
  ASSERT_NE(one, nullptr);
  EXPECT_NE(one.get(), two.get());
  EXPECT_STREQ(one.get(), two.get());
  EXPECT_NE(std::string(one.get()).find("Tarn_Mobi " PROJECT_VERSION), std::string::npos)
      << one.get();
}

TEST(MobiService, ClearUpOnAFreshTableAndTwice) {
  Service service;
  service.table->ClearUp(service.table->data);
  service.table->ClearUp(service.table->data);
  EXPECT_EQ(service.table->MobiToHtml(service.table->data, "x.htm"), MOBI_ERR_NOT_OPEN);
}

TEST(MobiService, InitResultCodes) {
  testbook::ScratchFolder scratch;
  Service service;
  EXPECT_EQ(service.Init(scratch.File("missing.mobi")), MOBI_ERR_OPEN);
  EXPECT_EQ(service.table->MobiToHtml(service.table->data, scratch.File("a.htm").c_str()),
            MOBI_ERR_NOT_OPEN);
  EXPECT_EQ(service.table->GetTitle(service.table->data), nullptr);

  testbook::WriteFile(scratch.File("text.pdb"), testbook::BuildPdb({Bytes(8)}, "t", "TEXtREAd"));
  EXPECT_EQ(service.Init(scratch.File("text.pdb")), MOBI_ERR_NOT_MOBI);
  EXPECT_EQ(service.table->GetAuthor(service.table->data), nullptr);
  service.table->ClearUp(service.table->data);

  testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook({}));
  EXPECT_EQ(service.Init(scratch.File("book.mobi")), MOBI_OK);
  // Two books in a row without ClearUp between them release the first.
  EXPECT_EQ(service.Init(scratch.File("book.mobi")), MOBI_OK);
}

TEST(MobiService, GettersAreEmptyBeforeMobiToHtml) {
  testbook::ScratchFolder scratch;
  testbook::BookSpec spec;
  spec.fullName = "Named";
  spec.exth = {{100, testbook::ToBytes("Author")}};
  testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook(spec));
  Service service;
  ASSERT_EQ(service.Init(scratch.File("book.mobi")), MOBI_OK);
  EXPECT_EQ(service.table->GetTitle(service.table->data), nullptr);
  EXPECT_EQ(service.table->GetAuthor(service.table->data), nullptr);
  EXPECT_EQ(service.table->GetCoverImageName(service.table->data), nullptr);
  EXPECT_EQ(service.table->GetMetadata(service.table->data, "language"), nullptr);
}

// Facts come out as UTF-8 whatever the book's encoding; repeated records are
// all kept, and a fact the book lacks (or an unknown name) is null.
TEST(MobiService, MetadataByName) {
  testbook::ScratchFolder scratch;
  testbook::BookSpec spec;
  spec.textEncoding = 1252;
  spec.textRecords = testbook::SplitText("<html><body><p>x</p></body></html>");
  spec.exth = {{524, testbook::ToBytes("fr")},
               {101, testbook::ToBytes("\xC9" "ditions")},
               {105, testbook::ToBytes("Po\xE9sie")},
               {105, testbook::ToBytes("Roman")}};
  testbook::WriteFile(scratch.File("book.mobi"), testbook::BuildBook(spec));
  Service service;
  ASSERT_EQ(service.Init(scratch.File("book.mobi")), MOBI_OK);
  ASSERT_EQ(service.table->MobiToHtml(service.table->data, scratch.File("book.htm").c_str()),
            MOBI_OK);
  auto fact = [&](const char *name) {
    HeapText text = Take(service.table->GetMetadata(service.table->data, name));
    return text ? std::string(text.get()) : std::string("(none)");
  };
  EXPECT_EQ(fact("language"), "fr");
  EXPECT_EQ(fact("publisher"), "\u00C9ditions");
  EXPECT_EQ(fact("subject"), "Po\u00E9sie\nRoman");
  EXPECT_EQ(fact("description"), "(none)");
  EXPECT_EQ(fact("no-such-fact"), "(none)");
  EXPECT_EQ(service.table->GetMetadata(service.table->data, nullptr), nullptr);
}

// A KF8 book made from an OPF may state its layout only in its RESC
// resource; what EXTH states wins.
TEST(MobiService, FixedLayoutFactsFromThePackageMetadata) {
  testbook::ScratchFolder scratch;
  testbook::Kf8Book book;
  book.flow0.Add("<html><head></head><body><div></div></body></html>", {{40, "<p>page</p>"}});
  using namespace std::string_literals; // the header holds NUL bytes
  book.resources.push_back(testbook::ToBytes(
      "RESC\0\0\0\x10\0\0\0\x01\0\0\0\x18size=AI&version=1&type=1"s +
      "<?xml version=\"1.0\"?><metadata><meta name=\"fixed-layout\" content=\"true\"/>"
      "<meta name=\"original-resolution\" content=\"1072x1448\"/>"
      "<meta name=\"primary-writing-mode\" content=\"horizontal-rl\"/></metadata>"
      "<spine page-progression-direction=\"rtl\"><itemref idref=\"p1\" skelid=\"0\"/></spine>"));
  book.exth = {{126, testbook::ToBytes("800x1200")}};
  testbook::WriteFile(scratch.File("book.azw3"), testbook::BuildBook(testbook::Kf8BookSpec(book)));
  Service service;
  ASSERT_EQ(service.Init(scratch.File("book.azw3")), MOBI_OK);
  ASSERT_EQ(service.table->MobiToHtml(service.table->data, scratch.File("book.htm").c_str()),
            MOBI_OK);
  auto fact = [&](const char *name) {
    HeapText text = Take(service.table->GetMetadata(service.table->data, name));
    return text ? std::string(text.get()) : std::string("(none)");
  };
  EXPECT_EQ(fact("fixed-layout"), "true");
  EXPECT_EQ(fact("original-resolution"), "800x1200");
  EXPECT_EQ(fact("primary-writing-mode"), "horizontal-rl");
  EXPECT_EQ(fact("page-progression-direction"), "rtl");
  EXPECT_EQ(fact("orientation-lock"), "(none)");
}

} // namespace
