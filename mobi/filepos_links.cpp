#include "filepos_links.h"

#include <algorithm>
#include <boost/regex.hpp>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "chinese_code.h"
#include "markup_tags.h"

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

// The digits without their leading zeros; "0" when they are all zeros.
std::string_view WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? digits.substr(digits.size() - 1) : digits.substr(first);
}

// Where a target named by `number` goes: its value, or the end of the text
// when the value lies past it.
std::size_t TargetPosition(std::string_view number, std::size_t textSize) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || value > textSize)
    return textSize;
  return static_cast<std::size_t>(value);
}

bool AnchorOrder(const FileposAnchor &a, const FileposAnchor &b) {
  // Numbers without leading zeros compare by length first, then by digits.
  return std::forward_as_tuple(a.position, a.number.size(), a.number) <
         std::forward_as_tuple(b.position, b.number.size(), b.number);
}

bool SameAnchor(const FileposAnchor &a, const FileposAnchor &b) { return a.number == b.number; }

constexpr std::size_t kConversionStretch = 64 * 1024;

// Where a stretch of `piece` to convert may end, at `from` or after it: behind
// two ASCII bytes in a row, which no double-byte pair can hold, so the
// stretches convert exactly as the whole piece would.
std::size_t ConversionStretchEnd(std::string_view piece, std::size_t from) {
  for (std::size_t end = std::max<std::size_t>(from, 2); end < piece.size(); ++end)
    if (static_cast<unsigned char>(piece[end - 1]) < 0x80 && static_cast<unsigned char>(piece[end - 2]) < 0x80)
      return end;
  return piece.size();
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
    if (!TagMentions(tag, "filepos") || !boost::regex_match(tag.data(), tag.data() + tag.size(), match, TargetPattern()))
      return;
    const std::string_view digits(match[1].first, static_cast<std::size_t>(match.length(1)));
    const std::string_view number = WithoutLeadingZeros(digits);
    anchors.push_back({TargetPosition(number, text.size()), std::string(number)});
  });
  std::sort(anchors.begin(), anchors.end(), AnchorOrder);
  anchors.erase(std::unique(anchors.begin(), anchors.end(), SameAnchor), anchors.end());
  return anchors;
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
  const bool windows1252 = windows1252_ && !ChineseCode::PairsIntoGB2312(piece.data(), length);
  // Converted a stretch at a time, so a long piece never needs a second
  // copy of its own size.
  for (std::size_t at = 0; at < piece.size();) {
    const std::size_t end = ConversionStretchEnd(piece, at + kConversionStretch);
    const std::string_view stretch = piece.substr(at, end - at);
    if (windows1252)
      ChineseCode::Windows1252ToUTF_8(converted_, stretch.data(), static_cast<int>(stretch.size()));
    else
      ChineseCode::GB2312ToUTF_8(converted_, stretch.data(), static_cast<int>(stretch.size()));
    if (!Write(converted_))
      return false;
    at = end;
  }
  return true;
}

bool HtmlPieceWriter::Write(std::string_view bytes) {
  return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out_) == bytes.size();
}

bool WriteWithFileposLinks(std::string_view text, HtmlPieceWriter &writer) {
  // A link is a whole tag, so only whole tags need the pattern.
  const char *cursor = text.data();
  std::string link;
  boost::cmatch match;
  bool written = true;
  ForEachClosedTag(text, [&](std::string_view tag) {
    if (!written || !TagMentions(tag, "filepos") ||
        !boost::regex_match(tag.data(), tag.data() + tag.size(), match, LinkPattern()))
      return;
    link.assign(kLinkPrefix).append(match[1].first, match[1].second).append(kLinkSuffix);
    written = writer.WritePiece(std::string_view(cursor, static_cast<std::size_t>(tag.data() - cursor))) &&
              writer.WritePiece(link);
    cursor = tag.data() + tag.size();
  });
  return written && writer.WritePiece(std::string_view(cursor, static_cast<std::size_t>(text.data() + text.size() - cursor)));
}
