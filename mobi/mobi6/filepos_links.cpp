#include "mobi6/filepos_links.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <tuple>

#include "decoding/chinese_code.h"
#include "kf8/kf8_markup.h"
#include "markup/markup_tags.h"
#include "common/text_util.h"

namespace {

// The two filepos patterns, matched by hand against one closed tag (a "<", no
// "<" or ">" inside, the first ">" after it), where they are equivalent to
//   target: <[^<>]+filepos=['"]{0,1}(\d+)[^<>]*>
//   link:   <a filepos=['"]{0,1}0*(\d+)['"]{0,1} *>
// matched whole and case-insensitively. A book has tens of thousands of such
// tags; a general matcher costs a hundred times more per tag.

constexpr std::string_view kFileposName = "filepos=";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsQuote(char c) { return c == '\'' || c == '"'; }

std::size_t DigitRunLength(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && IsDigit(text[end]))
    ++end;
  return end - from;
}

// The digits after an optional quote at `from`; empty when there are none.
std::string_view QuotedDigits(std::string_view tag, std::size_t from) {
  if (from < tag.size() && IsQuote(tag[from]) && from + 1 < tag.size() && IsDigit(tag[from + 1]))
    ++from;
  return tag.substr(from, DigitRunLength(tag, from));
}

} // namespace

std::optional<std::string_view> FileposTargetDigits(std::string_view tag) {
  // The leading run is greedy: the last attribute with digits wins, and at
  // least one byte stands between "<" and it.
  if (tag.size() < 2 + kFileposName.size() || tag.front() != '<' || tag.back() != '>')
    return std::nullopt;
  for (std::size_t at = tag.size() - 1 - kFileposName.size(); at >= 2; --at) {
    if (!textutil::StartsWithNoCase(tag.substr(at), kFileposName))
      continue;
    const std::string_view digits = QuotedDigits(tag, at + kFileposName.size());
    if (!digits.empty())
      return digits;
  }
  return std::nullopt;
}

std::optional<std::string_view> FileposLinkDigits(std::string_view tag) {
  constexpr std::string_view kLinkStart = "<a filepos=";
  if (!textutil::StartsWithNoCase(tag, kLinkStart))
    return std::nullopt;
  const std::string_view digits = QuotedDigits(tag, kLinkStart.size());
  if (digits.empty())
    return std::nullopt;
  std::size_t at = static_cast<std::size_t>(digits.data() + digits.size() - tag.data());
  if (at < tag.size() && IsQuote(tag[at]))
    ++at;
  while (at < tag.size() && tag[at] == ' ')
    ++at;
  if (at + 1 != tag.size() || tag[at] != '>')
    return std::nullopt;
  return textutil::CanonicalDecimal(digits);
}

namespace {

constexpr std::string_view kAnchorPrefix = "<a id=\"filepos";
constexpr std::string_view kAnchorSuffix = "\" />";
constexpr std::string_view kLinkPrefix = "<a href=\"#filepos";
constexpr std::string_view kLinkSuffix = "\">";

// Where a target named by `number` goes: its value, or the end of the text
// when the value lies past it.
std::size_t TargetPosition(std::string_view number, std::size_t textSize) {
  const std::optional<std::uint64_t> value = textutil::DecimalValue(number);
  return value && *value <= textSize ? static_cast<std::size_t>(*value) : textSize;
}

bool AnchorOrder(const FileposAnchor &a, const FileposAnchor &b) {
  // Numbers without leading zeros compare by length first, then by digits.
  return std::forward_as_tuple(a.position, a.number.size(), a.number) <
         std::forward_as_tuple(b.position, b.number.size(), b.number);
}

bool SameAnchor(const FileposAnchor &a, const FileposAnchor &b) { return a.number == b.number; }

void SortUnique(std::vector<FileposAnchor> &anchors) {
  std::sort(anchors.begin(), anchors.end(), AnchorOrder);
  anchors.erase(std::unique(anchors.begin(), anchors.end(), SameAnchor), anchors.end());
}

bool HasHighByte(std::string_view bytes) {
  return std::any_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Plain ASCII without 0x00 bytes, the common piece, is written as it stands.
bool IsPlainAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c - 1) < 0x7F; });
}

} // namespace

std::vector<FileposAnchor> CollectFileposTargets(std::string_view text) {
  std::vector<FileposAnchor> anchors;
  ForEachClosedTag(text, [&](std::string_view tag) {
    const std::optional<std::string_view> digits = FileposTargetDigits(tag);
    if (!digits)
      return;
    const std::string_view number = *textutil::CanonicalDecimal(*digits);
    anchors.push_back({TargetPosition(number, text.size()), std::string(number)});
  });
  SortUnique(anchors);
  return anchors;
}

std::optional<std::uint32_t> ReadingStartPosition(std::string_view text,
                                                  std::optional<std::uint32_t> exthStart) {
  std::size_t bodyAt = 0;
  while ((bodyAt = text.find('<', bodyAt)) != std::string_view::npos &&
         !textutil::StartsWithNoCase(text.substr(bodyAt), "<body"))
    ++bodyAt;
  std::optional<std::uint64_t> guideStart;
  ForEachClosedTag(text.substr(0, bodyAt), [&](std::string_view tag) {
    if (guideStart || !SameName(TagName(tag), "reference") ||
        !SameName(textutil::Attribute(tag, "type").value_or(""), "text"))
      return;
    if (const auto digits = FileposTargetDigits(tag))
      guideStart = textutil::DecimalValue(*digits);
  });
  if (guideStart && *guideStart < text.size())
    return static_cast<std::uint32_t>(*guideStart);
  // EXTH 116 is a bare number; an anchor inside a tag would break the tag.
  const auto insideTag = [text](std::size_t position) {
    const std::size_t bracket =
        position == 0 ? std::string_view::npos : text.find_last_of("<>", position - 1);
    return bracket != std::string_view::npos && text[bracket] == '<';
  };
  if (!exthStart || *exthStart >= text.size() || insideTag(*exthStart))
    return std::nullopt;
  return exthStart;
}

void AddFileposTargets(std::vector<FileposAnchor> &anchors,
                       const std::vector<std::uint32_t> &positions, std::size_t textSize) {
  for (std::uint32_t position : positions) {
    const std::string number = std::to_string(position);
    anchors.push_back({TargetPosition(number, textSize), number});
  }
  SortUnique(anchors);
}

void InsertFileposAnchors(std::string &text, const std::vector<FileposAnchor> &anchors) {
  std::size_t size = text.size();
  for (const FileposAnchor &anchor : anchors)
    size += kAnchorPrefix.size() + anchor.number.size() + kAnchorSuffix.size();
  std::size_t textEnd = text.size();
  text.resize(size);
  char *const bytes = text.data();
  std::size_t at = size;
  for (auto anchor = anchors.rbegin(); anchor != anchors.rend(); ++anchor) {
    const std::size_t position = std::min(anchor->position, textEnd);
    at -= textEnd - position;
    std::memmove(bytes + at, bytes + position, textEnd - position);
    textEnd = position;
    for (const std::string_view part :
         {kAnchorSuffix, std::string_view(anchor->number), kAnchorPrefix}) {
      at -= part.size();
      std::memcpy(bytes + at, part.data(), part.size());
    }
  }
}

bool HtmlPieceWriter::WritePiece(std::string_view piece) {
  if (IsPlainAscii(piece))
    return Write(piece);
  if (piece.find('\0') != std::string_view::npos) {
    withoutNul_.assign(piece);
    withoutNul_.erase(std::remove(withoutNul_.begin(), withoutNul_.end(), '\0'), withoutNul_.end());
    piece = withoutNul_;
  }
  // Plain ASCII reads the same in every encoding.
  if (!HasHighByte(piece))
    return Write(piece);
  const int length = static_cast<int>(piece.size());
  if (ChineseCode::IsTextUTF8(piece.data(), length))
    return Write(piece);
  if (windows1252_ && !ChineseCode::PairsIntoGB2312(piece.data(), length))
    ChineseCode::Windows1252ToUTF_8(converted_, piece.data(), length);
  else
    ChineseCode::GB2312ToUTF_8(converted_, piece.data(), length);
  return Write(converted_);
}

bool HtmlPieceWriter::Write(std::string_view bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size();
}

bool WriteWithFileposLinks(std::string_view text, HtmlPieceWriter &writer) {
  const char *cursor = text.data();
  std::string link;
  bool written = true;
  ForEachClosedTag(text, [&](std::string_view tag) {
    const std::optional<std::string_view> digits = written ? FileposLinkDigits(tag) : std::nullopt;
    if (!digits)
      return;
    link.assign(kLinkPrefix).append(*digits).append(kLinkSuffix);
    written = writer.WritePiece(
                  std::string_view(cursor, static_cast<std::size_t>(tag.data() - cursor))) &&
              writer.WritePiece(link);
    cursor = tag.data() + tag.size();
  });
  return written && writer.WritePiece(std::string_view(
                        cursor, static_cast<std::size_t>(text.data() + text.size() - cursor)));
}
