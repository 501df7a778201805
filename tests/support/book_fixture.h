// A test fixture that opens a book built by the test writer and prepares the
// operator for single unpacking steps: record 0's fields are taken from the
// book's description, so each step can be run and checked on its own.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mobi_operator.h"
#include "mobi_writer.h"
#include "test_files.h"

namespace testbook {

class BookFixture : public ::testing::Test {
protected:
  // Writes the book, opens it and fills record 0 as the record-0 step would.
  void Open(const BookSpec &spec) { Open(spec, BuildBook(spec)); }
  // The same for `bytes`, the book `spec` describes as changed by the test.
  void Open(const BookSpec &spec, const Bytes &bytes) {
    book.Destroy(); // a test may open several books in turn
    WriteFile(scratch.File("book.mobi"), bytes);
    ASSERT_EQ(book.Init(scratch.File("book.mobi").c_str()), 0);
    book.outputFolder = scratch.Path().string();
    book.bookStem = "book";
    PdbRecord0 &r = *book.record0;
    r.compression = spec.compression;
    r.textRecordCount = spec.textRecordCount.value_or(static_cast<std::uint16_t>(spec.textRecords.size()));
    r.textRecordSize = spec.textRecordSize;
    r.textEncoding = spec.textEncoding;
    r.extraDataFlags = spec.extraDataFlags;
    r.firstImageRecord = spec.firstImageRecord.value_or(
        spec.imageRecords.empty() ? 0 : static_cast<std::uint32_t>(1 + spec.textRecords.size()));
  }

  std::string HtmlPath() const { return scratch.File("book.htm"); }
  std::string ImagePath(const std::string &name) const { return scratch.File(name); }
  // The text of a file in the scratch folder.
  std::string Contents(const std::string &path) const {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
  }

  ScratchFolder scratch;
  MobiOperator book;
};

} // namespace testbook
