// Reads PDFs back through poppler's command-line tools, for tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testbook {

struct ProgramResult {
  int status = -1; // exit status; -1 when it did not start or did not exit
  std::string out; // standard output
  std::string err; // standard error
};

// Runs a program from an argument vector (no shell) and collects its output.
ProgramResult RunProgram(const std::vector<std::string> &arguments);

// Starts arguments[0] (a path) with its output discarded, without waiting;
// its process id, or -1 when it did not start.
int StartQuietly(const std::vector<std::string> &arguments);

// The PDF's text (pdftotext, UTF-8).
std::string PdfText(const std::string &path);

struct PdfImage {
  std::string type; // "image", or "mask"/"smask" for a picture's transparency
  int width = 0;
  int height = 0;
};
// The pictures the PDF draws (pdfimages -list), one entry per use.
std::vector<PdfImage> PdfImages(const std::string &path);
// How many of those are pictures rather than transparency masks.
std::size_t PdfPictureCount(const std::string &path);

// The first box of `word` in pdftotext's -bbox output: its xMin and its
// height; {-1, -1} when the word is not there.
std::pair<double, double> WordBox(const std::string &boxes, const std::string &word);

// True when the file exists and starts with "%PDF-".
bool IsPdf(const std::string &path);

} // namespace testbook
