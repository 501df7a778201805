// Which engine renders a book. wkhtmltopdf wherever it is installed and can
// lay the book out; headless Chromium where it is not installed, and for
// books whose right-to-left text wkhtmltopdf runs off the page (Arabic
// script, Hebrew with points, the other right-to-left scripts).
#pragma once

#include <string>
#include <string_view>

namespace wkhtmltox {

enum class Engine { None, Wkhtmltopdf, Chromium };

// The engines' programs as found on the search path; empty when absent.
struct InstalledEngines {
  std::string wkhtmltopdf;
  std::string chromium;
};

// Looks for "wkhtmltopdf", and for "chromium-headless-shell" or else
// "chromium", in the folders of `searchPath` (PATH's form).
InstalledEngines FindEngines(std::string_view searchPath);

// True when `html` holds text wkhtmltopdf cannot lay out: a character of the
// Arabic script, a Hebrew point, or a letter of another right-to-left script;
// or when its root element declares such a language or a right-to-left
// direction.
bool NeedsChromium(std::string_view html);

struct EngineChoice {
  Engine engine = Engine::None;
  std::string program;
  std::string warning; // what to install for a better rendering, if anything
  std::string failure; // why nothing can render, when engine is None
};

EngineChoice ChooseEngine(bool needsChromium, const InstalledEngines &installed);

} // namespace wkhtmltox
