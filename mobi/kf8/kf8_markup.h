// Reading and rewriting single tags of KF8 markup: names and attributes,
// without parsing the document around them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// True for "<" followed by a letter: an element's start tag.
bool IsStartTag(std::string_view tag);
// True for "</" followed by a letter.
bool IsEndTag(std::string_view tag);
// The element name of a start or end tag, as written.
std::string_view TagName(std::string_view tag);
bool SameName(std::string_view a, std::string_view b); // ASCII case-insensitive

// A start tag taken apart so that its attributes can change.
struct ParsedTag {
  struct Attribute {
    std::string name;
    std::string value;
  };
  std::string name;
  std::vector<Attribute> attributes;
  bool selfClosing = false;

  static ParsedTag Parse(std::string_view tag);
  // The attribute named `attribute`, or null.
  Attribute *Find(std::string_view attribute);
  void Set(std::string_view attribute, std::string value);
  // The tag written again, every value in double quotes.
  void AppendTo(std::string &out) const;
};
