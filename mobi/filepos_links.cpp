#include "filepos_links.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <cstdint>
#include <cstring>
#include <optional>
#include <tuple>

#include "chinese_code.h"
#include "markup_tags.h"
#include "text_util.h"

namespace {

constexpr auto kPatternOptions = boost::regex::perl | boost::regex::icase;

const boost::regex &TargetPattern() {
  static const boost::regex pattern(R"(<[^<>]+filepos=['"]{0,1}(\d+)[^<>]*>)", kPatternOptions);
  return pattern;
}

// "<a filepos=['"]{0,1}0*(\d+)['"]{0,1} *>", with the digits after the zeros
// written as "[1-9]\d*|0": the same matches, but a long run of zeros that
// ends in no link is refused in one pass, not by trying every split of it.
const boost::regex &LinkPattern() {
  static const boost::regex pattern(R"(<a filepos=['"]{0,1}0*([1-9]\d*|0)['"]{0,1} *>)",
                                    kPatternOptions);
  return pattern;
}

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

} // namespace

std::vector<FileposAnchor> CollectFileposTargets(std::string_view text) {
  std::vector<FileposAnchor> anchors;
  boost::cmatch match;
  ForEachClosedTag(text, [&](std::string_view tag) {
    if (!boost::regex_match(tag.data(), tag.data() + tag.size(), match, TargetPattern()))
      return;
    const std::string_view digits(match[1].first, static_cast<std::size_t>(match.length(1)));
    const std::string_view number = *textutil::CanonicalDecimal(digits);
    anchors.push_back({TargetPosition(number, text.size()), std::string(number)});
  });
  SortUnique(anchors);
  return anchors;
}

void AddFileposTargets(std::vector<FileposAnchor> &anchors, const std::vector<std::uint32_t> &positions,
                       std::size_t textSize) {
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
    for (const std::string_view part : {kAnchorSuffix, std::string_view(anchor->number), kAnchorPrefix}) {
      at -= part.size();
      std::memcpy(bytes + at, part.data(), part.size());
    }
  }
}

bool HtmlPieceWriter::WritePiece(std::string_view piece) {
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
  const char *end = cursor + text.size();
  std::string link;
  boost::cmatch match;
  while (boost::regex_search(cursor, end, match, LinkPattern())) {
    link.assign(kLinkPrefix).append(match[1].first, match[1].second).append(kLinkSuffix);
    if (!writer.WritePiece(std::string_view(cursor, static_cast<std::size_t>(match[0].first - cursor))) ||
        !writer.WritePiece(link))
      return false;
    cursor = match[0].second;
  }
  return writer.WritePiece(std::string_view(cursor, static_cast<std::size_t>(end - cursor)));
}
