// Joins the PDFs of a book's pieces into one, in order, each page with its
// annotations (links and the finishing step's markers).
#pragma once

#include <string>
#include <vector>

class QPDF;

namespace finishing {

// Writes `pdf` as the file at `path` in one replacement, every stream kept
// exactly as it stands (a renderer's compression, a picture's own bytes).
// Throws std::exception when it cannot; `path` is then left as it was.
void WriteStreamsAsTheyAre(QPDF &pdf, const std::string &path);

// Writes `joined` from the pages of `parts`, in order. Throws std::exception
// when a part cannot be read or the result cannot be written; `joined` is then
// left as it was.
void JoinPdfs(const std::vector<std::string> &parts, const std::string &joined);

} // namespace finishing
