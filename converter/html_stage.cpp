#include "html_stage.h"

#include "book_layout.h"
#include "html_pieces.h"
#include "html_tags.h"

namespace stage {

namespace {

struct StageEdits {
  std::vector<finishing::Edit> edits;
  finishing::FinishPlan plan;
  bool dictionary = false;
};

// The preparation's and the layout's edits from one scan of the tags, which
// go before the edits are applied.
StageEdits EditsOf(std::string_view html, const StageFacts &facts) {
  const std::vector<finishing::Tag> tags = finishing::ScanTags(html);
  finishing::Preparation preparation =
      finishing::PrepareEdits(html, tags, facts.cover, facts.startId);
  const bool dictionary = facts.dictionary || layout::HasLookUpReference(html, tags);
  // The layout's edits go first: at a place both insert, the style sheet
  // comes before a cover page or marker.
  std::vector<finishing::Edit> edits =
      layout::LayoutEdits(html, tags, dictionary, preparation.coverPage);
  edits.insert(edits.end(), std::make_move_iterator(preparation.edits.begin()),
               std::make_move_iterator(preparation.edits.end()));
  return {std::move(edits), std::move(preparation.plan), dictionary};
}

} // namespace

LaidOutBook PrepareAndLayOut(std::string html, const StageFacts &facts) {
  StageEdits stage = EditsOf(html, facts);
  finishing::ApplyEdits(html, std::move(stage.edits));
  return {std::move(html), std::move(stage.plan), stage.dictionary};
}

StagedBook StageBook(std::string html, const StageFacts &facts, unsigned cores,
                     std::string_view headStart) {
  LaidOutBook book = PrepareAndLayOut(std::move(html), facts);
  const std::size_t pieceBytes = layout::PieceBytes(book.html.size(), cores, book.dictionary);
  return {std::move(book.plan), layout::CutIntoPieces(book.html, pieceBytes, headStart)};
}

} // namespace stage
