#include "kf8/kf8_markup.h"

#include <algorithm>

#include "common/text_util.h"

namespace {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

} // namespace

bool IsStartTag(std::string_view tag) {
  return tag.size() > 1 && tag[0] == '<' && IsLetter(tag[1]);
}

bool IsEndTag(std::string_view tag) {
  return tag.size() > 2 && tag[0] == '<' && tag[1] == '/' && IsLetter(tag[2]);
}

std::string_view TagName(std::string_view tag) {
  const std::size_t first = IsEndTag(tag) ? 2 : 1;
  std::size_t end = first;
  while (end < tag.size() && !textutil::IsHtmlSpace(tag[end]) && tag[end] != '>' && tag[end] != '/')
    ++end;
  return first < tag.size() ? tag.substr(first, end - first) : std::string_view{};
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && textutil::StartsWithNoCase(a, b);
}

ParsedTag ParsedTag::Parse(std::string_view tag) {
  ParsedTag parsed;
  parsed.name = TagName(tag);
  textutil::ForEachAttribute(tag, [&](std::string_view name, std::string_view value) {
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
