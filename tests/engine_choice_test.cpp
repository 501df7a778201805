// Which engine renders a book.
#include "engine_choice.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using wkhtmltox::ChooseEngine;
using wkhtmltox::Engine;
using wkhtmltox::NeedsChromium;

TEST(EngineChoice, RightToLeftTextNeedsChromium) {
  EXPECT_FALSE(
      NeedsChromium("<html><body><p>Plain, café, \xD0\x96, \xE4\xB8\xAD</p></body></html>"));
  // Unpointed Hebrew and its maqaf lay out well in wkhtmltopdf.
  EXPECT_FALSE(NeedsChromium("<p>\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\xD6\xBE\xD7\xA2</p>"));
  EXPECT_TRUE(NeedsChromium("<p>\xD7\xA9\xD6\xB8\xD7\x9C</p>"));         // a Hebrew point
  EXPECT_TRUE(NeedsChromium("<p>\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85</p>")); // Arabic
  EXPECT_TRUE(NeedsChromium("<p>\xEF\xBB\xBB</p>")); // an Arabic presentation form
  EXPECT_TRUE(NeedsChromium("<p>\xDE\x80</p>"));     // Thaana
  // Declared by the root element: a right-to-left language or direction.
  EXPECT_TRUE(NeedsChromium("<?xml version=\"1.0\"?><HTML Lang='fa-IR'><body>x</body></HTML>"));
  EXPECT_TRUE(NeedsChromium("<html xml:lang=\"ur\"><body>x</body></html>"));
  EXPECT_TRUE(NeedsChromium("<html dir=\"rtl\"><body>x</body></html>"));
  EXPECT_FALSE(
      NeedsChromium("<html lang=\"en\"><body><p dir=\"rtl\" lang=\"ar\">x</p></body></html>"));
  // A malformed sequence is no letter of any script.
  EXPECT_FALSE(NeedsChromium("\xD8"));
}

TEST(EngineChoice, WkhtmltopdfWhereItCanChromiumWhereItMustAWarningWhereNeitherFits) {
  const wkhtmltox::InstalledEngines both{"/usr/bin/wkhtmltopdf", "/usr/bin/chromium"};
  const wkhtmltox::InstalledEngines oldOnly{"/usr/bin/wkhtmltopdf", ""};
  const wkhtmltox::InstalledEngines newOnly{"", "/usr/bin/chromium"};
  EXPECT_EQ(ChooseEngine(false, both).engine, Engine::Wkhtmltopdf);
  EXPECT_EQ(ChooseEngine(true, both).engine, Engine::Chromium);
  EXPECT_EQ(ChooseEngine(false, newOnly).engine, Engine::Chromium);
  EXPECT_EQ(ChooseEngine(true, newOnly).program, "/usr/bin/chromium");
  EXPECT_TRUE(ChooseEngine(true, both).warning.empty());

  const wkhtmltox::EngineChoice lacking = ChooseEngine(true, oldOnly);
  EXPECT_EQ(lacking.engine, Engine::Wkhtmltopdf);
  EXPECT_NE(lacking.warning.find("chromium-headless-shell"), std::string::npos);

  const wkhtmltox::EngineChoice none = ChooseEngine(false, {});
  EXPECT_EQ(none.engine, Engine::None);
  EXPECT_NE(none.failure.find("chromium-headless-shell"), std::string::npos);
}

TEST(EngineChoice, EnginesAreFoundOnTheSearchPath) {
  const auto installed = wkhtmltox::FindEngines("/nonexistent:/usr/bin");
  EXPECT_EQ(installed.wkhtmltopdf.empty(), access("/usr/bin/wkhtmltopdf", X_OK) != 0);
  EXPECT_TRUE(wkhtmltox::FindEngines("/nonexistent").chromium.empty());
}

} // namespace
