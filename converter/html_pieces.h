// Cuts a laid-out book into pieces the renderer can take one at a time: the
// renderer's cost grows faster than the text it lays out, so pieces of
// bounded size, rendered side by side, take a fraction of one whole pass.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace layout {

// Cuts `html` at block boundaries into pieces of about `pieceBytes` each,
// preferring the book's page breaks. Every piece is a whole document: the
// text before the body (with its styles) and `headStart` put first in the
// head, the elements open at its start opened again, and those still open at
// its end closed. A piece begins a page in any case, so the page break it
// starts at is left out. A book without a body stays one piece.
std::vector<std::string> CutIntoPieces(std::string_view html, std::size_t pieceBytes,
                                       std::string_view headStart);

} // namespace layout
