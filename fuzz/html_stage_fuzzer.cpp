// The program's HTML stage on any HTML, in memory: prepared and laid out as
// the program does it, then cut into pieces small enough that small inputs
// are cut too. The first input byte chooses the library's facts (a
// dictionary, a cover), the second the piece size; the rest is the HTML.
// Besides the sanitizers it checks that the pieces show, together, the text
// the whole would show; that each piece closes what it opens, the last one
// leaving open only what the whole leaves open; that no piece shows nothing;
// and that no piece is larger than the whole with its head and the elements
// it opens again.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "html_pieces.h"
#include "html_stage.h"
#include "html_tags.h"
#include "common/text_util.h"

namespace {

using finishing::Tag;

bool IsIn(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Where the body's content starts: after the first <body> tag, else at 0.
std::size_t BodyStart(const std::vector<Tag> &tags) {
  const auto body =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "body"; });
  return body == tags.end() ? 0 : body->end;
}

struct Reading {
  std::string text;              // shown text, whitespace and comments left out
  bool showsElement = false;     // a picture, rule, table and the like
  std::vector<std::string> open; // elements open at the end, outermost first
};

void AddText(std::string_view gap, std::string &text) {
  for (std::size_t at = 0; at < gap.size();) {
    if (gap.compare(at, 4, "<!--") == 0) {
      const std::size_t close = gap.find("-->", at + 4);
      at = close == std::string_view::npos ? gap.size() : close + 3;
      continue;
    }
    if (!textutil::IsHtmlSpace(gap[at]))
      text += gap[at];
    ++at;
  }
}

// Reads the body of `html` as a renderer shows it and as the cutter nests it:
// an end tag closes up to its element, and a block's start tag closes an open
// paragraph.
Reading ReadBody(std::string_view html) {
  const std::vector<Tag> tags = finishing::ScanTags(html);
  Reading reading;
  std::size_t from = BodyStart(tags);
  bool raw = false;
  for (const Tag &tag : tags) {
    if (tag.end <= from)
      continue;
    if (!raw)
      AddText(html.substr(from, tag.begin - from), reading.text);
    from = tag.end;
    raw = tag.rawTextFollows;
    const std::string_view name = tag.name;
    reading.showsElement = reading.showsElement || finishing::ShowsByItself(name);
    if (name.empty() || name.starts_with('!') || name.starts_with('?'))
      continue;
    auto &open = reading.open;
    if (name.starts_with('/')) {
      const auto match = std::find(open.rbegin(), open.rend(), name.substr(1));
      if (match != open.rend())
        open.erase(std::next(match).base(), open.end());
      continue;
    }
    if (!open.empty() && open.back() == "p" &&
        IsIn(name, {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "ul", "ol", "dl",
                    "table", "pre", "center", "hr"}))
      open.pop_back();
    if (finishing::OpensElement(tag, html.substr(tag.begin, tag.end - tag.begin)))
      open.push_back(tag.name);
  }
  if (!raw)
    AddText(html.substr(std::min(from, html.size())), reading.text);
  return reading;
}

std::size_t TagBytes(std::string_view html) {
  std::size_t bytes = 0;
  for (const Tag &tag : finishing::ScanTags(html))
    bytes += tag.end - tag.begin;
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2)
    return 0;
  stage::StageFacts facts;
  facts.dictionary = (data[0] & 1) != 0;
  if ((data[0] & 2) != 0)
    facts.cover = {"tmpData_files/image_1.jpg", {"tmpData_files/image_2.jpg"}};
  if ((data[0] & 4) != 0)
    facts.startId = "filepos0";
  const std::size_t pieceBytes = 64 + std::size_t{data[1]} * 16;
  const std::string_view headStart = "<base href=\"../\"/>";
  const stage::LaidOutBook whole = stage::PrepareAndLayOut(
      std::string(reinterpret_cast<const char *>(data) + 2, size - 2), facts);
  const std::vector<std::string> pieces = layout::CutIntoPieces(whole.html, pieceBytes, headStart);
  FUZZ_CHECK(!pieces.empty());

  const Reading all = ReadBody(whole.html);
  const std::size_t headBytes = BodyStart(finishing::ScanTags(whole.html)) + headStart.size();
  const std::size_t bound = whole.html.size() + headBytes + 2 * TagBytes(whole.html) + 64;
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Reading piece = ReadBody(pieces[i]);
    joined += piece.text;
    const std::vector<std::string> leftOpen =
        i + 1 < pieces.size() ? std::vector<std::string>{} : all.open;
    FUZZ_CHECK(piece.open == leftOpen);
    if (pieces.size() > 1)
      FUZZ_CHECK(!piece.text.empty() || piece.showsElement);
    FUZZ_CHECK(pieces[i].size() <= bound);
  }
  FUZZ_CHECK(joined == all.text);
  return 0;
}
