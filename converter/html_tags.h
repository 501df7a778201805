// The tags of an HTML text, as the steps that rewrite the unpacked book see
// them: where each stands, its lower-case name, and its attributes on demand.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text_util.h"

namespace finishing {

// One tag: where it stands and its lower-case name, with a leading "/" for an
// end tag. Comments are not tags, nor is anything in the raw text of a style
// sheet, script, title or text area up to its end tag.
struct Tag {
  std::size_t begin = 0;
  std::size_t end = 0; // one past ">"
  std::string name;
  bool rawTextFollows = false; // the text up to the next tag is not laid out
};

std::vector<Tag> ScanTags(std::string_view html);

// Whether an element of this name never has content (nor an end tag).
bool IsVoidElement(std::string_view name);
// Whether `tag`, whose text is `tagText`, opens an element that an end tag
// closes: a start tag, neither of a void element nor written self-closed.
bool OpensElement(const Tag &tag, std::string_view tagText);
// Whether an element of this name shows something without any text: a
// picture, a rule, a table and the like.
bool ShowsByItself(std::string_view name);
// Whether text between tags shows anything: more than white space and
// comments.
bool ShowsText(std::string_view text);

// One change of an HTML text: [begin, end) becomes `text`.
struct Edit {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string text;
};

inline Edit Insertion(std::size_t at, std::string text) { return {at, at, std::move(text)}; }

// Applies edits in one pass. At one place, insertions go before a
// replacement and keep their order; an edit that overlaps one before it is
// left out.
void ApplyEdits(std::string &html, std::vector<Edit> edits);

using textutil::Attribute;
using textutil::IsBlank;
using textutil::Lower;

} // namespace finishing
