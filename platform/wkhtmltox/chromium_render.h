// One page rendered to PDF by headless Chromium, with the settings of the
// libwkhtmltox interface. The browser reads nothing itself: every request of
// the page, local files included, comes back to the layer, which answers it
// from the files the settings allow and refuses everything else, the network
// included.
#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "devtools_browser.h"
#include "program_output.h"
#include "settings.h"

namespace wkhtmltox {

// Paper and margins in inches, as the browser's printing takes them.
struct PrintLayout {
  double width = 8.27; // A4
  double height = 11.69;
  double top = 0, bottom = 0, left = 0, right = 0;
};

// The paper size ("size.paperSize", or "size.width" and "size.height"), the
// orientation and the four margins of `global`. Lengths are numbers with a
// unit of mm, cm, in, pt or px; a size or length it cannot read keeps the
// default (A4, 10mm).
PrintLayout LayoutOf(const Settings &global);

struct ChromiumJob {
  std::filesystem::path page; // absolute
  std::string outputPath;
  PrintLayout layout;
  const Settings *object = nullptr;
};

// The tabs of one browser, kept between conversions: a tab that rendered a
// page keeps its renderer process, warm, for the next one.
class ChromiumTabs {
public:
  using Tab = std::unique_ptr<DevToolsBrowser::Page>;

  explicit ChromiumTabs(DevToolsBrowser &browser) : browser_(browser) {}
  // An idle tab, or a new one. Throws std::runtime_error when the browser
  // cannot open one.
  Tab Take();
  void Give(Tab tab);

private:
  DevToolsBrowser &browser_;
  std::mutex mutex_;
  std::vector<Tab> idle_;
};

// Renders `job` in a tab of `tabs` and writes the PDF. Reports its phases,
// progress, errors and warnings through `events`. True when the PDF was
// written; a page that cannot be loaded or printed writes none.
bool RenderWithChromium(ChromiumTabs &tabs, const ChromiumJob &job, ProgramOutput &events);

} // namespace wkhtmltox
