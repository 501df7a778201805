#include "html_stage.h"

#include "book_layout.h"
#include "html_pieces.h"
#include "html_tags.h"

namespace stage {

LaidOutBook PrepareAndLayOut(std::string html, const StageFacts &facts) {
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
  finishing::ApplyEdits(html, std::move(edits));
  return {std::move(html), std::move(preparation.plan), dictionary};
}

StagedBook StageBook(std::string html, const StageFacts &facts, unsigned cores,
                     std::string_view headStart) {
  LaidOutBook book = PrepareAndLayOut(std::move(html), facts);
  const std::size_t pieceBytes = layout::PieceBytes(book.html.size(), cores, book.dictionary);
  return {std::move(book.plan), layout::CutIntoPieces(book.html, pieceBytes, headStart)};
}

} // namespace stage
