#include "kf8_markup.h"

#include <algorithm>

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Walks the attributes of a start tag, calling `visit(name, value)`.
template <typename Visit> void ForEachAttribute(std::string_view tag, Visit visit) {
  std::size_t at = 1;
  while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != '>' && tag[at] != '/')
    ++at;
  while (at < tag.size()) {
    while (at < tag.size() && (IsSpace(tag[at]) || tag[at] == '/'))
      ++at;
    const std::size_t nameStart = at;
    while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != '=' && tag[at] != '>' && tag[at] != '/')
      ++at;
    if (at == nameStart)
      return;
    const std::string_view name = tag.substr(nameStart, at - nameStart);
    while (at < tag.size() && IsSpace(tag[at]))
      ++at;
    std::string_view value;
    if (at < tag.size() && tag[at] == '=') {
      ++at;
      while (at < tag.size() && IsSpace(tag[at]))
        ++at;
      if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
        const std::size_t close = tag.find(tag[at], at + 1);
        const std::size_t end = close == std::string_view::npos ? tag.size() - 1 : close;
        value = tag.substr(at + 1, end - at - 1);
        at = end + 1;
      } else {
        const std::size_t valueStart = at;
        while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != '>')
          ++at;
        value = tag.substr(valueStart, at - valueStart);
      }
    }
    visit(name, value);
  }
}

} // namespace

bool IsStartTag(std::string_view tag) { return tag.size() > 1 && tag[0] == '<' && IsLetter(tag[1]); }

bool IsEndTag(std::string_view tag) {
  return tag.size() > 2 && tag[0] == '<' && tag[1] == '/' && IsLetter(tag[2]);
}

std::string_view TagName(std::string_view tag) {
  const std::size_t first = IsEndTag(tag) ? 2 : 1;
  std::size_t end = first;
  while (end < tag.size() && !IsSpace(tag[end]) && tag[end] != '>' && tag[end] != '/')
    ++end;
  return first < tag.size() ? tag.substr(first, end - first) : std::string_view{};
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view AttributeValue(std::string_view tag, std::string_view name) {
  std::string_view found;
  ForEachAttribute(tag, [&](std::string_view attribute, std::string_view value) {
    if (found.empty() && SameName(attribute, name))
      found = value;
  });
  return found;
}

ParsedTag ParsedTag::Parse(std::string_view tag) {
  ParsedTag parsed;
  parsed.name = TagName(tag);
  ForEachAttribute(tag, [&](std::string_view name, std::string_view value) {
    if (!parsed.Find(name))
      parsed.attributes.push_back({std::string(name), std::string(value)});
  });
  const std::size_t last = tag.find_last_not_of(" \t\r\n>");
  parsed.selfClosing = last != std::string_view::npos && last > 0 && tag[last] == '/';
  return parsed;
}

ParsedTag::Attribute *ParsedTag::Find(std::string_view attribute) {
  const auto found = std::find_if(attributes.begin(), attributes.end(),
                                  [&](const Attribute &a) { return SameName(a.name, attribute); });
  return found == attributes.end() ? nullptr : &*found;
}

void ParsedTag::Remove(std::string_view attribute) {
  std::erase_if(attributes, [&](const Attribute &a) { return SameName(a.name, attribute); });
}

void ParsedTag::Set(std::string_view attribute, std::string value) {
  if (Attribute *existing = Find(attribute))
    existing->value = std::move(value);
  else
    attributes.push_back({std::string(attribute), std::move(value)});
}

void ParsedTag::AppendTo(std::string &out) const {
  out += '<';
  out += name;
  for (const Attribute &attribute : attributes) {
    out += ' ';
    out += attribute.name;
    out += "=\"";
    for (const char c : attribute.value)
      out += c == '"' ? std::string_view("&quot;") : std::string_view(&c, 1);
    out += '"';
  }
  out += selfClosing ? "/>" : ">";
}
