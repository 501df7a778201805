// The book's PDF in memory, for the units that build on qpdf.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>

#include "pdf_joiner.h"

namespace finishing {

// A PDF and the documents its pages were taken from, which must outlive it
// until it is written.
struct BookPdf {
  std::deque<std::string> bytes; // the files read, which stay in place
  std::vector<std::unique_ptr<QPDF>> sources;
  QPDF pdf;

  // The PDF file at `path`, read whole: qpdf seeks for every object it
  // loads, and on a file each seek is a system call. Throws std::exception
  // when it cannot be read.
  QPDF &Load(const std::string &path);
};

} // namespace finishing
