// Test-only builder of MOBI book text whose filepos links are written as a
// book maker writes them: fixed-width ten-digit offsets into the text, filled
// in once the text is laid out.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testbook {

class LinkedText {
public:
  // Appends text; "{name}" stands for the ten-digit offset of mark `name`.
  LinkedText &Add(const std::string &text);
  // Appends a link to mark `mark` around `label`.
  LinkedText &Link(const std::string &mark, const std::string &label) {
    return Add("<a filepos={" + mark + "}>" + label + "</a>");
  }
  // Names the place the next text starts at.
  LinkedText &Mark(const std::string &name) {
    marks_[name] = text_.size();
    return *this;
  }
  // The text with every offset filled in; each mark must have been set.
  std::string Text() const;

private:
  std::string text_;
  std::vector<std::pair<std::size_t, std::string>> references_;
  std::map<std::string, std::size_t> marks_;
};

} // namespace testbook
