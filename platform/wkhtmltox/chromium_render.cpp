#include "chromium_render.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <fstream>

#include "base64.h"
#include "common/text_util.h"
#include "common/whole_file.h"

namespace wkhtmltox {

namespace {

namespace fs = std::filesystem;

// Pages are loaded by their file addresses, as wkhtmltopdf loads them, so
// that links come out of either engine alike; but the browser reads no file
// itself: every request comes back to the layer, which answers it.
constexpr std::string_view kFileScheme = "file://";

constexpr double kMillimetresPerInch = 25.4;

struct Paper {
  std::string_view name;
  double width, height; // mm
};

constexpr std::array kPapers{
    Paper{"A3", 297, 420},        Paper{"A4", 210, 297},          Paper{"A5", 148, 210},
    Paper{"B4", 250, 353},        Paper{"B5", 176, 250},          Paper{"Letter", 215.9, 279.4},
    Paper{"Legal", 215.9, 355.6}, Paper{"Tabloid", 279.4, 431.8}, Paper{"Executive", 184.2, 266.7},
};

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && textutil::StartsWithNoCase(a, b);
}

// "20mm", "2cm", "1in", "72pt", "96px" or a bare number of millimetres.
std::optional<double> Inches(std::string_view length) {
  double value = 0;
  const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), value);
  if (error != std::errc() || value < 0)
    return std::nullopt;
  const std::string_view unit(end, static_cast<std::size_t>(length.data() + length.size() - end));
  if (unit.empty() || SameNoCase(unit, "mm"))
    return value / kMillimetresPerInch;
  if (SameNoCase(unit, "cm"))
    return value * 10 / kMillimetresPerInch;
  if (SameNoCase(unit, "in"))
    return value;
  if (SameNoCase(unit, "pt"))
    return value / 72;
  if (SameNoCase(unit, "px"))
    return value / 96;
  return std::nullopt;
}

double InchesOr(const Settings &settings, std::string_view name, double fallback) {
  const auto text = settings.Get(name);
  return text ? Inches(*text).value_or(fallback) : fallback;
}

// The local path a request of the page names; nothing for any other address
// (a file address naming a host included).
std::optional<fs::path> LocalPath(std::string_view url) {
  if (!url.starts_with(kFileScheme) || url.size() == kFileScheme.size() ||
      url[kFileScheme.size()] != '/')
    return std::nullopt;
  url.remove_prefix(kFileScheme.size());
  url = url.substr(0, url.find_first_of("?#"));
  return fs::path(textutil::PercentDecoded(url)).lexically_normal();
}

bool IsInside(const fs::path &path, const fs::path &folder) {
  std::error_code error;
  const fs::path real = fs::weakly_canonical(path, error);
  const fs::path realFolder = error ? fs::path() : fs::weakly_canonical(folder, error);
  if (error || realFolder.empty())
    return false;
  const fs::path relative = real.lexically_relative(realFolder);
  return !relative.empty() && *relative.begin() != "..";
}

std::string MimeType(const fs::path &path, const std::string &encoding) {
  const std::string extension = textutil::Lower(path.extension().string());
  if (extension == ".htm" || extension == ".html" || extension == ".xhtml")
    return encoding.empty() ? "text/html" : "text/html; charset=" + encoding;
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 11> kTypes{{
      {".css", "text/css"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".svg", "image/svg+xml"},
      {".bmp", "image/bmp"},
      {".ttf", "font/ttf"},
      {".otf", "font/otf"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
  }};
  for (const auto &[known, type] : kTypes)
    if (extension == known)
      return std::string(type);
  return "application/octet-stream";
}

// The user style sheet goes first in the head, so the page's own styles win.
void AddStyleSheet(std::string &html, const std::string &url) {
  const std::string link = "<link rel=\"stylesheet\" href=\"" + url + "\"/>";
  std::size_t at = 0;
  for (std::size_t head = 0; (head = html.find("<head", head)) != std::string::npos; head += 5) {
    const char after = head + 5 < html.size() ? html[head + 5] : '>';
    if (after == '>' || textutil::IsHtmlSpace(after)) {
      at = html.find('>', head);
      at = at == std::string::npos ? 0 : at + 1;
      break;
    }
  }
  html.insert(at, link);
}

// What the page may read and how it is served, from the object settings.
class PageFiles {
public:
  explicit PageFiles(const ChromiumJob &job) : page_(job.page.lexically_normal()) {
    const Settings &object = *job.object;
    encoding_ = object.Get("web.defaultEncoding").value_or("");
    loadImages_ = object.IsOn("web.loadImages", true);
    if (object.IsOn("load.blockLocalFileAccess", false)) {
      allowed_.emplace();
      for (const std::string &folder : object.Entries("load.allowed"))
        if (!folder.empty())
          allowed_->emplace_back(folder);
    }
    const std::string sheet = object.Get("web.userStyleSheet").value_or("");
    if (sheet.find(':') != std::string::npos && !sheet.starts_with('/')) {
      styleSheet_ = sheet;
    } else if (!sheet.empty()) {
      styleSheetFile_ = fs::absolute(sheet).lexically_normal();
      styleSheet_ = PageUrl(styleSheetFile_.string());
    }
  }

  const fs::path &Page() const { return page_; }
  std::string Address() const { return PageUrl(page_.string()); }

  // The fulfilment of a request for `path`; nothing, with `refusal` set, when
  // the page may not read it or it cannot be read.
  std::optional<Json> Answer(const fs::path &path, bool isImage, std::string &refusal) const {
    if (isImage && !loadImages_) {
      refusal = "";
      return std::nullopt;
    }
    if (!MayRead(path)) {
      refusal = "Blocked access to file " + path.string();
      return std::nullopt;
    }
    std::error_code error; // a pipe or device would be read forever
    std::optional<std::string> body =
        fs::is_regular_file(path, error) ? textutil::ReadWholeFile(path) : std::nullopt;
    if (!body) {
      refusal = "Failed to load file " + path.string() + " (ignore)";
      return std::nullopt;
    }
    if (path == page_ && !styleSheet_.empty())
      AddStyleSheet(*body, styleSheet_);
    return Json{{"responseCode", 200},
                {"responseHeaders",
                 Json::array({{{"name", "Content-Type"}, {"value", MimeType(path, encoding_)}}})},
                {"body", Base64Encode(*body)}};
  }

private:
  bool MayRead(const fs::path &path) const {
    if (path == page_ || path == styleSheetFile_ || !allowed_)
      return true;
    return std::any_of(allowed_->begin(), allowed_->end(),
                       [&](const fs::path &folder) { return IsInside(path, folder); });
  }

  fs::path page_;
  std::string encoding_;
  bool loadImages_ = true;
  std::optional<std::vector<fs::path>> allowed_; // nothing: every local file
  std::string styleSheet_;
  fs::path styleSheetFile_;
};

// The page's events while it loads and prints: its requests are answered,
// everything else noted.
class PageEvents {
public:
  PageEvents(DevToolsBrowser::Page &page, const PageFiles &files, ProgramOutput &events)
      : page_(page), files_(files), events_(events) {}

  void operator()(const Json &event) {
    const std::string method = event.value("method", std::string());
    const Json &params = event.contains("params") ? event["params"] : Json::object();
    if (method == "Fetch.requestPaused")
      AnswerRequest(params);
    else if (method == "Page.loadEventFired")
      loaded_ = true;
    else if (method == "Inspector.targetCrashed")
      crashed_ = true;
  }

  bool Loaded() const { return loaded_; }
  bool Crashed() const { return crashed_; }

private:
  void AnswerRequest(const Json &params) {
    const std::string id = params.value("requestId", std::string());
    const Json request = params.value("request", Json::object());
    const std::string url = request.value("url", std::string());
    const auto path = LocalPath(url);
    std::string refusal = "Blocked access to " + url;
    std::optional<Json> answer;
    if (path)
      answer =
          files_.Answer(*path, params.value("resourceType", std::string()) == "Image", refusal);
    if (answer) {
      (*answer)["requestId"] = id;
      page_.Post("Fetch.fulfillRequest", std::move(*answer));
      return;
    }
    // The page itself failing is the conversion's error, reported once.
    if (!refusal.empty() && !(path && *path == files_.Page()))
      events_.Warning(refusal);
    page_.Post("Fetch.failRequest", {{"requestId", id}, {"errorReason", "BlockedByClient"}});
  }

  DevToolsBrowser::Page &page_;
  const PageFiles &files_;
  ProgramOutput &events_;
  bool loaded_ = false;
  bool crashed_ = false;
};

// wkhtmltopdf (without its patched toolkit) prints a CSS pixel at 1/1.3 of
// the size a browser prints it; at the same scale a book keeps its type size
// and its words per line whichever engine renders it.
constexpr double kWkhtmltopdfScale = 1 / 1.3;

// The printing scale of `object`: wkhtmltopdf's, times its zoom factor.
double PrintScale(const Settings &object) {
  double zoom = 1;
  if (const auto text = object.Get("load.zoomFactor")) {
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), zoom);
    if (error != std::errc() || zoom <= 0)
      zoom = 1;
  }
  // The bounds the browser accepts.
  return std::clamp(kWkhtmltopdfScale * zoom, 0.1, 2.0);
}

Json PrintParameters(const PrintLayout &layout, double scale) {
  return {{"paperWidth", layout.width},      {"paperHeight", layout.height},
          {"marginTop", layout.top},         {"marginBottom", layout.bottom},
          {"marginLeft", layout.left},       {"marginRight", layout.right},
          {"printBackground", true},         {"preferCSSPageSize", false},
          {"generateTaggedPDF", false},      {"scale", scale},
          {"transferMode", "ReturnAsStream"}};
}

// Copies the printed PDF out of the browser's stream into `path`.
template <typename OnEvent>
void SaveStream(DevToolsBrowser::Page &page, const std::string &stream, const std::string &path,
                OnEvent &onEvent) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file)
    throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
  for (;;) {
    const Json chunk = page.Call("IO.read", {{"handle", stream}, {"size", 1 << 22}}, onEvent);
    const std::string data = chunk.value("data", std::string());
    const auto bytes = chunk.value("base64Encoded", false) ? Base64Decode(data) : data;
    if (!bytes)
      throw std::runtime_error("the browser sent a damaged PDF");
    file.write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    if (chunk.value("eof", false))
      break;
  }
  page.Call("IO.close", {{"handle", stream}}, onEvent);
  file.close();
  if (!file)
    throw std::runtime_error("cannot write " + path);
}

bool LoadAndPrint(DevToolsBrowser::Page &page, const ChromiumJob &job, ProgramOutput &events) {
  const PageFiles files(job);
  PageEvents onEvent(page, files, events);
  const Settings &object = *job.object;
  const bool script = object.IsOn("web.enableJavascript", true);
  page.Call("Emulation.setScriptExecutionDisabled", {{"value", !script}}, onEvent);
  // wkhtmltopdf lays pages out for the screen unless told otherwise.
  const bool print = object.IsOn("web.printMediaType", false);
  page.Call("Emulation.setEmulatedMedia", {{"media", print ? "print" : "screen"}}, onEvent);
  page.Call("Fetch.enable", {{"patterns", Json::array({{{"urlPattern", "*"}}})}}, onEvent);
  page.Call("Page.enable", Json::object(), onEvent);

  events.EnterPhase(0);
  events.SetProgress(0);
  const Json navigation = page.Call("Page.navigate", {{"url", files.Address()}}, onEvent);
  if (const std::string failure = navigation.value("errorText", std::string()); !failure.empty()) {
    events.Error("Failed loading page " + files.Page().string() + " (" + failure + ")");
    return false;
  }
  while (!onEvent.Loaded() && !onEvent.Crashed())
    if (const std::optional<Json> event = page.NextEvent())
      onEvent(*event);
    else
      throw std::runtime_error("the browser ended while it loaded the page");
  if (onEvent.Crashed()) {
    events.Error("the browser's page crashed while it loaded " + files.Page().string());
    return false;
  }
  events.SetProgress(100);

  events.EnterPhase(1);
  const Json printed =
      page.Call("Page.printToPDF", PrintParameters(job.layout, PrintScale(object)), onEvent);
  SaveStream(page, printed.value("stream", std::string()), job.outputPath, onEvent);
  events.SetProgress(100);
  events.EnterPhase(2);
  return true;
}

} // namespace

PrintLayout LayoutOf(const Settings &global) {
  PrintLayout layout;
  const std::string paper = global.Get("size.paperSize").value_or("A4");
  for (const Paper &known : kPapers)
    if (SameNoCase(known.name, paper)) {
      layout.width = known.width / kMillimetresPerInch;
      layout.height = known.height / kMillimetresPerInch;
    }
  layout.width = InchesOr(global, "size.width", layout.width);
  layout.height = InchesOr(global, "size.height", layout.height);
  if (SameNoCase(global.Get("orientation").value_or(""), "Landscape"))
    std::swap(layout.width, layout.height);
  const double margin = 10 / kMillimetresPerInch;
  layout.top = InchesOr(global, "margin.top", margin);
  layout.bottom = InchesOr(global, "margin.bottom", margin);
  layout.left = InchesOr(global, "margin.left", margin);
  layout.right = InchesOr(global, "margin.right", margin);
  return layout;
}

ChromiumTabs::Tab ChromiumTabs::Take() {
  {
    const std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      Tab tab = std::move(idle_.back());
      idle_.pop_back();
      return tab;
    }
  }
  return browser_.OpenPage();
}

void ChromiumTabs::Give(Tab tab) {
  const std::lock_guard lock(mutex_);
  idle_.push_back(std::move(tab));
}

bool RenderWithChromium(ChromiumTabs &tabs, const ChromiumJob &job, ProgramOutput &events) {
  bool written = false;
  try {
    ChromiumTabs::Tab tab = tabs.Take();
    written = LoadAndPrint(*tab, job, events);
    // A tab that failed may be in any state; a new one serves the next page.
    if (written)
      tabs.Give(std::move(tab));
  } catch (const std::exception &error) {
    events.Error(error.what());
  }
  if (!written)
    unlink(job.outputPath.c_str()); // a part written is no PDF; a folder there stays
  return written;
}

} // namespace wkhtmltox
