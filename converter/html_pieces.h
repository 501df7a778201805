// Cuts a laid-out book into pieces the renderer can take one at a time: the
// renderer's cost grows faster than the text it lays out, so pieces of
// bounded size, rendered side by side, take a fraction of one whole pass.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace layout {

// The piece size for a book of `htmlBytes` rendered on `cores` cores. Each
// run of the renderer costs about a twentieth of a second before it lays out
// a line; its cost per byte stays flat for prose, but grows past about 400 KB
// of a dictionary's thousands of small entries. So a piece is as large as
// that allows, a book gets at least a piece a core, the pieces come in
// multiples of the cores, and a small book stays whole.
std::size_t PieceBytes(std::size_t htmlBytes, unsigned cores, bool dictionary);

// Cuts `html` at block boundaries into pieces of about `pieceBytes` each,
// preferring the book's page breaks. Every piece is a whole document: the
// text before the body (with its styles) and `headStart` put first in the
// head, the elements open at its start opened again, and those still open at
// its end closed. A piece begins a page in any case, so the page break it
// starts at is left out. A book without a body stays one piece.
std::vector<std::string> CutIntoPieces(std::string_view html, std::size_t pieceBytes,
                                       std::string_view headStart);

} // namespace layout
