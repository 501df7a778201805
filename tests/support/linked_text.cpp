#include "linked_text.h"

#include <cstdio>

namespace testbook {

LinkedText &LinkedText::Add(const std::string &text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('{', at);
    if (open == std::string::npos) {
      text_ += text.substr(at);
      break;
    }
    const std::size_t close = text.find('}', open);
    text_ += text.substr(at, open - at);
    references_.emplace_back(text_.size(), text.substr(open + 1, close - open - 1));
    text_ += std::string(10, '0');
    at = close + 1;
  }
  return *this;
}

std::string LinkedText::Text() const {
  std::string text = text_;
  for (const auto &[at, name] : references_) {
    char digits[11];
    std::snprintf(digits, sizeof digits, "%010zu", marks_.at(name));
    text.replace(at, 10, digits);
  }
  return text;
}

} // namespace testbook
