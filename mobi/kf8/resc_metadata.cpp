#include "kf8/resc_metadata.h"

#include <array>
#include <cstring>
#include <string>
#include <string_view>

#include "kf8/kf8_markup.h"
#include "markup/markup_tags.h"
#include "common/text_util.h"

namespace {

constexpr std::array<std::string_view, 4> kMetaFacts = {"fixed-layout", "original-resolution",
                                                        "orientation-lock", "primary-writing-mode"};
constexpr std::string_view kSpineDirection = "page-progression-direction";

// Adds `value` under `name` unless EXTH (or an earlier element) gave it.
void AddMissing(BookFacts &facts, std::string_view name, std::string_view value) {
  if (!value.empty() && !facts.contains(name))
    facts.emplace(std::string(name), std::string(value));
}

void AddTagFacts(std::string_view tag, BookFacts &facts) {
  if (!IsStartTag(tag))
    return;
  const std::string_view name = TagName(tag);
  if (SameName(name, "meta")) {
    const std::string_view fact = textutil::Attribute(tag, "name").value_or("");
    for (const std::string_view known : kMetaFacts)
      if (fact == known)
        AddMissing(facts, known, textutil::Attribute(tag, "content").value_or(""));
  } else if (SameName(name, "spine")) {
    AddMissing(facts, kSpineDirection, textutil::Attribute(tag, kSpineDirection).value_or(""));
  }
}

} // namespace

bool IsRescRecord(const ByteReader &record) {
  return record.Size() >= 4 && std::memcmp(record.Bytes().data(), "RESC", 4) == 0;
}

void AddRescFacts(const ByteReader &record, BookFacts &facts) {
  if (!IsRescRecord(record))
    return;
  // The XML follows a short header whose length varies between makers; the
  // header holds no "<", so the markup is found by its tags alone.
  const auto bytes = record.Bytes();
  const std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  ForEachClosedTag(text, [&](std::string_view tag) { AddTagFacts(tag, facts); });
}
