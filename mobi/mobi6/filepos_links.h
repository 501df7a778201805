// The book text's `filepos` places: anchors at every target, fragment links in
// place of the plain filepos links, and the conversion of each written piece
// to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One anchor: where it goes in the book text and the number it is named by
// (decimal digits without leading zeros, exactly as the links name it).
struct FileposAnchor {
  std::size_t position = 0;
  std::string number;
};

// For one closed tag (from a "<" to the first ">" after it): the digits of
// the filepos target it names, the last such attribute when it has several;
// and, for a link whose only attribute is filepos, its number without
// leading zeros. Nothing when the tag is not of that kind.
std::optional<std::string_view> FileposTargetDigits(std::string_view tag);
std::optional<std::string_view> FileposLinkDigits(std::string_view tag);

// Every distinct target named by a filepos attribute anywhere in `text`, in
// text order. A target past the end of the text is placed at its end.
std::vector<FileposAnchor> CollectFileposTargets(std::string_view text);

// Where reading starts in the MOBI6 `text`: the filepos of the guide's
// <reference type="text">, else `exthStart` (EXTH 116); only a place inside
// the text counts, and for EXTH 116 only one outside a tag. The guide is
// looked for before the body.
std::optional<std::uint32_t> ReadingStartPosition(std::string_view text,
                                                  std::optional<std::uint32_t> exthStart);

// Adds a target at each of `positions` (the book's contents, say) to
// `anchors`, keeping them in text order and each target once.
void AddFileposTargets(std::vector<FileposAnchor> &anchors,
                       const std::vector<std::uint32_t> &positions, std::size_t textSize);

// Puts the anchor element of each target (in position order) in front of the
// byte at its position, in place and in one pass from the back.
void InsertFileposAnchors(std::string &text, const std::vector<FileposAnchor> &anchors);

// Writes converted pieces of book text to an open file.
class HtmlPieceWriter {
public:
  // `windows1252` tells a book that declares Windows-1252 text.
  HtmlPieceWriter(std::FILE *out, bool windows1252) : out_(out), windows1252_(windows1252) {}

  // Writes `piece` as UTF-8, leaving out its 0x00 bytes: unchanged when it is
  // UTF-8 already, else decoded as Windows-1252 or GBK. False on a short write.
  bool WritePiece(std::string_view piece);

private:
  bool Write(std::string_view bytes);

  std::FILE *out_;
  bool windows1252_;
  std::string withoutNul_;
  std::string converted_;
};

// Writes `text` (anchors already in place), replacing every link whose only
// attribute is filepos by a link to its anchor. False on a short write.
bool WriteWithFileposLinks(std::string_view text, HtmlPieceWriter &writer);
