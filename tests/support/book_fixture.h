// A test fixture that opens a book built by the test writer and prepares the
// operator for single unpacking steps.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mobi_operator.h"
#include "mobi_writer.h"
#include "test_files.h"

namespace testbook {

class BookFixture : public ::testing::Test {
protected:
  // Writes the book, opens it and runs the record-0 step, so each later step
  // can be run and checked on its own.
  void Open(const BookSpec &spec) { Open(BuildBook(spec)); }
  // The same for `bytes`, a book as changed by the test.
  void Open(const Bytes &bytes) {
    book.Destroy(); // a test may open several books in turn
    WriteFile(scratch.File("book.mobi"), bytes);
    ASSERT_EQ(book.Init(scratch.File("book.mobi").c_str()), 0);
    ASSERT_EQ(book.SetOutputPath(HtmlPath().c_str()), 0);
    ASSERT_EQ(book.ProcessZeroRecord(), 0);
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
