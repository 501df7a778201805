// The program's HTML stage for a reflowable book: the library's HTML
// prepared for finishing, laid out as a printed book and cut into the pieces
// the renderer takes, in memory, from one scan of its tags.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "html_preparer.h"

namespace stage {

// What the library tells of the book that the stage needs.
struct StageFacts {
  finishing::BookCover cover;
  std::string startId; // the element where reading starts, or empty
  bool dictionary = false;
};

struct LaidOutBook {
  std::string html;
  finishing::FinishPlan plan;
  bool dictionary = false; // laid out as a dictionary
};

// Prepares and lays out `html` (consumed) in one pass over its tags.
LaidOutBook PrepareAndLayOut(std::string html, const StageFacts &facts);

struct StagedBook {
  finishing::FinishPlan plan;
  std::vector<std::string> pieces; // whole documents, in reading order
};

// PrepareAndLayOut, then the book cut into pieces for `cores` renderers side
// by side, `headStart` first in each piece's head.
StagedBook StageBook(std::string html, const StageFacts &facts, unsigned cores,
                     std::string_view headStart);

} // namespace stage
