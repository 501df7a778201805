// Checks of an unpacked book's HTML that several tests share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "test_files.h"

namespace testbook {

// Every id of `html`; a failure for each one used twice.
inline std::set<std::string> UniqueIds(const std::string &html) {
  std::set<std::string> ids;
  const std::regex id(R"re(\bid="([^"]*)")re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), id); it != std::sregex_iterator();
       ++it)
    EXPECT_TRUE(ids.insert((*it)[1]).second) << "id used twice: " << (*it)[1];
  return ids;
}

// Every "#" link of `html` has an element with that id, and no id is used twice.
inline void ExpectEveryLinkHasItsTarget(const std::string &html) {
  const std::set<std::string> ids = UniqueIds(html);
  const std::regex href(R"re(href="#([^"]*)")re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), href); it != std::sregex_iterator();
       ++it)
    EXPECT_TRUE(ids.contains((*it)[1])) << "no target for #" << (*it)[1];
}

// One XML declaration, no kindle: address left, a target for every "#" link
// and a file in `scratch` for every "book_files/" resource it names.
inline void ExpectSoundDocument(const std::string &html, const ScratchFolder &scratch) {
  std::size_t declarations = 0;
  for (std::size_t at = html.find("<?xml"); at != std::string::npos;
       at = html.find("<?xml", at + 1))
    ++declarations;
  EXPECT_EQ(declarations, 1u);
  EXPECT_EQ(html.find("kindle:"), std::string::npos);
  ExpectEveryLinkHasItsTarget(html);
  const std::regex resource(R"re((book_files/[^"')]+))re");
  for (auto it = std::sregex_iterator(html.begin(), html.end(), resource);
       it != std::sregex_iterator(); ++it)
    EXPECT_TRUE(std::filesystem::exists(scratch.File((*it)[1]))) << (*it)[1];
}

} // namespace testbook
