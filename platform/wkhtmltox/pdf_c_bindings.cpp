// The libwkhtmltox C interface over two engines: the wkhtmltopdf program,
// and headless Chromium. Every entry point runs its body through Guarded, so
// no exception reaches a C caller.
#include "wkhtmltox/pdf.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "chromium_render.h"
#include "devtools_browser.h"
#include "engine_choice.h"
#include "program_output.h"
#include "run_program.h"
#include "settings.h"
#include "common/whole_file.h"

struct wkhtmltopdf_global_settings {
  wkhtmltox::Settings settings{wkhtmltox::GlobalSettingRules()};
};

struct wkhtmltopdf_object_settings {
  wkhtmltox::Settings settings{wkhtmltox::ObjectSettingRules()};
  // The page's HTML when it was given in memory rather than by path.
  std::optional<std::string> html;
};

namespace {

template <typename Body, typename Result> Result Guarded(Body body, Result onFailure) {
  try {
    return body();
  } catch (...) {
    return onFailure;
  }
}

template <typename Body> void Guarded(Body body) {
  try {
    body();
  } catch (...) {
  }
}

// As above, and `report` is told what went wrong.
template <typename Body, typename Result, typename Report>
Result Guarded(Body body, Result onFailure, Report report) {
  try {
    return body();
  } catch (const std::exception &error) {
    Guarded([&] { report(error.what()); });
  } catch (...) {
    Guarded([&] { report("an unexpected failure"); });
  }
  return onFailure;
}

// A file under the temporary folder that lives as long as the object.
class TemporaryFile {
public:
  explicit TemporaryFile(const char *suffix) {
    const char *folder = std::getenv("TMPDIR");
    path_ = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") +
            "/wkhtmltox-XXXXXX" + suffix;
    const int fd = mkstemps(path_.data(), static_cast<int>(std::strlen(suffix)));
    if (fd < 0)
      throw std::runtime_error("cannot make a temporary file");
    close(fd);
  }
  ~TemporaryFile() { unlink(path_.c_str()); }
  TemporaryFile(const TemporaryFile &) = delete;
  TemporaryFile &operator=(const TemporaryFile &) = delete;
  const std::string &Path() const { return path_; }

private:
  std::string path_;
};

bool IsPdf(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  char head[5] = {};
  return file.read(head, sizeof head) && std::memcmp(head, "%PDF-", sizeof head) == 0;
}

// A stale file at the output path would pass for this run's PDF.
void RemoveStaleOutput(const std::string &path) {
  struct stat status;
  if (lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    unlink(path.c_str());
}

std::vector<unsigned char> ReadWhole(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

std::string SearchPath() {
  const char *path = std::getenv("PATH");
  if (path != nullptr)
    return path;
  std::string fallback(confstr(_CS_PATH, nullptr, 0), '\0');
  confstr(_CS_PATH, fallback.data(), fallback.size());
  fallback.pop_back();
  return fallback;
}

// What the browser may do: nothing but lay out the pages the layer hands it.
// As root it cannot use its sandbox; the layer's confinement stands instead.
std::vector<std::string> ChromiumFlags() {
  std::vector<std::string> flags{
      "--headless", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--disable-default-apps", "--disable-extensions", "--mute-audio", "--hide-scrollbars",
      // Every request is answered by the layer; anything that slips past it
      // finds no name resolved and no way out but a proxy that is not there.
      "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
      "--proxy-bypass-list=<-loopback>"};
  if (geteuid() == 0)
    flags.push_back("--no-sandbox");
  return flags;
}

} // namespace

// The engine of the book being rendered: chosen once between
// wkhtmltopdf_init and wkhtmltopdf_deinit, at the first conversion, from the
// pages of every converter created by then, so that all the pieces of a
// book come out of the same engine. The Chromium engine's one browser
// serves every conversion of that time.
class RenderSession {
public:
  static RenderSession &Get() {
    static RenderSession session;
    return session;
  }

  void Add(wkhtmltopdf_converter *converter) {
    const std::lock_guard lock(mutex_);
    converters_.insert(converter);
  }
  void Remove(wkhtmltopdf_converter *converter) {
    const std::lock_guard lock(mutex_);
    converters_.erase(converter);
  }

  // The choice, and whether this caller is the one that made it (and so
  // reports its warning).
  std::pair<wkhtmltox::EngineChoice, bool> Choice();

  // The tabs of the browser, started at the first call.
  wkhtmltox::ChromiumTabs &Chromium(const std::string &program) {
    const std::lock_guard lock(mutex_);
    if (!browser_) {
      browser_ = std::make_unique<wkhtmltox::DevToolsBrowser>(program, ChromiumFlags());
      tabs_ = std::make_unique<wkhtmltox::ChromiumTabs>(*browser_);
    }
    return *tabs_;
  }

  void End() {
    const std::lock_guard lock(mutex_);
    tabs_.reset();
    browser_.reset();
    choice_.reset();
  }

private:
  std::mutex mutex_;
  std::set<wkhtmltopdf_converter *> converters_;
  std::optional<wkhtmltox::EngineChoice> choice_;
  std::unique_ptr<wkhtmltox::DevToolsBrowser> browser_;
  std::unique_ptr<wkhtmltox::ChromiumTabs> tabs_;
};

struct wkhtmltopdf_converter : wkhtmltox::ProgramOutput::Listener {
  explicit wkhtmltopdf_converter(wkhtmltopdf_global_settings *settings) : global(settings) {
    RenderSession::Get().Add(this);
  }
  ~wkhtmltopdf_converter() override { RenderSession::Get().Remove(this); }
  wkhtmltopdf_converter(const wkhtmltopdf_converter &) = delete;
  wkhtmltopdf_converter &operator=(const wkhtmltopdf_converter &) = delete;

  int Convert();
  // Whether any of the pages needs the Chromium engine.
  bool NeedsChromium() const;
  bool RunWkhtmltopdf(const std::string &program,
                      const std::vector<const wkhtmltox::Settings *> &pages,
                      const std::string &outputPath);
  bool RunChromium(const std::string &program,
                   const std::vector<const wkhtmltox::Settings *> &pages,
                   const std::string &outputPath);

  void OnProgress(int percent) override {
    if (progressChanged != nullptr)
      progressChanged(this, percent);
  }
  void OnPhase() override {
    if (phaseChanged != nullptr)
      phaseChanged(this);
  }
  void OnError(const std::string &message) override { Report(error, message); }
  void OnWarning(const std::string &message) override { Report(warning, message); }
  void OnDebug(const std::string &message) override { Report(debug, message); }

  void Report(wkhtmltopdf_str_callback callback, const std::string &message) {
    if (callback != nullptr)
      callback(this, message.c_str());
  }

  std::unique_ptr<wkhtmltopdf_global_settings> global;
  std::vector<std::unique_ptr<wkhtmltopdf_object_settings>> objects;
  wkhtmltox::ProgramOutput output{*this};
  std::vector<unsigned char> pdfInMemory;
  std::string progressText;
  bool objectLost = false; // an add_object call failed

  wkhtmltopdf_int_callback progressChanged = nullptr;
  wkhtmltopdf_void_callback phaseChanged = nullptr;
  wkhtmltopdf_str_callback error = nullptr;
  wkhtmltopdf_str_callback warning = nullptr;
  wkhtmltopdf_str_callback debug = nullptr;
  wkhtmltopdf_int_callback finished = nullptr;
};

int wkhtmltopdf_converter::Convert() {
  if (objectLost)
    throw std::runtime_error("a page could not be added to the conversion");
  output.Reset();
  pdfInMemory.clear();
  const std::string out = global->settings.Get("out").value_or("");
  std::unique_ptr<TemporaryFile> memoryOutput;
  if (out.empty())
    memoryOutput = std::make_unique<TemporaryFile>(".pdf");
  const std::string outputPath = memoryOutput ? memoryOutput->Path() : out;

  // Pages given in memory are written out for the program to read.
  std::vector<std::unique_ptr<TemporaryFile>> pageFiles;
  std::vector<std::unique_ptr<wkhtmltox::Settings>> pageCopies;
  std::vector<const wkhtmltox::Settings *> pages;
  for (const auto &object : objects) {
    if (!object->html) {
      pages.push_back(&object->settings);
      continue;
    }
    pageFiles.push_back(std::make_unique<TemporaryFile>(".html"));
    std::ofstream(pageFiles.back()->Path(), std::ios::binary) << *object->html;
    pageCopies.push_back(std::make_unique<wkhtmltox::Settings>(object->settings));
    pageCopies.back()->Set("page", pageFiles.back()->Path());
    pages.push_back(pageCopies.back().get());
  }

  RemoveStaleOutput(outputPath);
  const auto [choice, chosenHere] = RenderSession::Get().Choice();
  if (chosenHere && !choice.warning.empty())
    OnWarning(choice.warning);
  bool written = false;
  if (choice.engine == wkhtmltox::Engine::Wkhtmltopdf)
    written = RunWkhtmltopdf(choice.program, pages, outputPath);
  else if (choice.engine == wkhtmltox::Engine::Chromium)
    written = RunChromium(choice.program, pages, outputPath);
  else
    OnError(choice.failure);
  if (written && memoryOutput)
    pdfInMemory = ReadWhole(outputPath);
  if (finished != nullptr)
    finished(this, written ? 1 : 0);
  return written ? 1 : 0;
}

std::pair<wkhtmltox::EngineChoice, bool> RenderSession::Choice() {
  const std::lock_guard lock(mutex_);
  if (choice_)
    return {*choice_, false};
  const bool needsChromium =
      std::any_of(converters_.begin(), converters_.end(),
                  [](const auto *converter) { return converter->NeedsChromium(); });
  choice_ = wkhtmltox::ChooseEngine(needsChromium, wkhtmltox::FindEngines(SearchPath()));
  return {*choice_, true};
}

bool wkhtmltopdf_converter::NeedsChromium() const {
  return std::any_of(objects.begin(), objects.end(), [](const auto &object) {
    if (object->html)
      return wkhtmltox::NeedsChromium(*object->html);
    const auto text = textutil::ReadWholeFile(object->settings.Get("page").value_or(""));
    return text && wkhtmltox::NeedsChromium(*text);
  });
}

bool wkhtmltopdf_converter::RunWkhtmltopdf(const std::string &program,
                                           const std::vector<const wkhtmltox::Settings *> &pages,
                                           const std::string &outputPath) {
  const auto arguments = wkhtmltox::BuildArguments(program, global->settings, pages, outputPath);
  const wkhtmltox::ProgramRun run =
      wkhtmltox::RunProgram(arguments, [this](std::string_view chunk) { output.Feed(chunk); });
  output.Finish();

  // The program's exit status says nothing reliable: it exits 1 after a
  // picture failed to load and 0 when it could not write the output.
  const bool written = run.started && IsPdf(outputPath);
  if (!run.started)
    OnError("Cannot run " + program + ": " + run.failure);
  else if (!written)
    OnError("No PDF was written to " + outputPath);
  return written;
}

bool wkhtmltopdf_converter::RunChromium(const std::string &program,
                                        const std::vector<const wkhtmltox::Settings *> &pages,
                                        const std::string &outputPath) {
  if (pages.size() != 1) {
    OnError("the Chromium engine renders one page object per converter");
    return false;
  }
  wkhtmltox::ChromiumJob job;
  job.page = std::filesystem::absolute(pages.front()->Get("page").value_or(""));
  job.outputPath = outputPath;
  job.layout = wkhtmltox::LayoutOf(global->settings);
  job.object = pages.front();
  wkhtmltox::ChromiumTabs *tabs = nullptr;
  try {
    tabs = &RenderSession::Get().Chromium(program);
  } catch (const std::exception &error) {
    OnError("Cannot run " + program + ": " + error.what());
    return false;
  }
  return wkhtmltox::RenderWithChromium(*tabs, job, output);
}

extern "C" {

CAPI(int) wkhtmltopdf_init(int) { return 1; }

// The engine is chosen afresh for the next book, and the browser closed.
CAPI(int) wkhtmltopdf_deinit(void) {
  Guarded([] { RenderSession::Get().End(); });
  return 1;
}

CAPI(int) wkhtmltopdf_extended_qt(void) { return 0; }

CAPI(const char *) wkhtmltopdf_version(void) { return "0.12.6"; }

CAPI(wkhtmltopdf_global_settings *) wkhtmltopdf_create_global_settings(void) {
  return Guarded([] { return new wkhtmltopdf_global_settings(); },
                 static_cast<wkhtmltopdf_global_settings *>(nullptr));
}

CAPI(void) wkhtmltopdf_destroy_global_settings(wkhtmltopdf_global_settings *settings) {
  delete settings;
}

CAPI(wkhtmltopdf_object_settings *) wkhtmltopdf_create_object_settings(void) {
  return Guarded([] { return new wkhtmltopdf_object_settings(); },
                 static_cast<wkhtmltopdf_object_settings *>(nullptr));
}

CAPI(void) wkhtmltopdf_destroy_object_settings(wkhtmltopdf_object_settings *settings) {
  delete settings;
}

} // extern "C"

namespace {

int SetSetting(wkhtmltox::Settings *settings, const char *name, const char *value) {
  if (settings == nullptr || name == nullptr || value == nullptr)
    return 0;
  return Guarded([&] { return settings->Set(name, value) ? 1 : 0; }, 0);
}

int GetSetting(const wkhtmltox::Settings *settings, const char *name, char *value, int size) {
  if (settings == nullptr || name == nullptr || value == nullptr || size <= 0)
    return 0;
  return Guarded(
      [&] {
        const std::optional<std::string> text = settings->Get(name);
        if (!text)
          return 0;
        const std::size_t length = std::min(text->size(), static_cast<std::size_t>(size - 1));
        std::memcpy(value, text->data(), length);
        value[length] = '\0';
        return 1;
      },
      0);
}

} // namespace

extern "C" {

CAPI(int) wkhtmltopdf_set_global_setting(wkhtmltopdf_global_settings *settings, const char *name,
                                         const char *value) {
  return SetSetting(settings ? &settings->settings : nullptr, name, value);
}

CAPI(int) wkhtmltopdf_get_global_setting(wkhtmltopdf_global_settings *settings, const char *name,
                                         char *value, int vs) {
  return GetSetting(settings ? &settings->settings : nullptr, name, value, vs);
}

CAPI(int) wkhtmltopdf_set_object_setting(wkhtmltopdf_object_settings *settings, const char *name,
                                         const char *value) {
  return SetSetting(settings ? &settings->settings : nullptr, name, value);
}

CAPI(int) wkhtmltopdf_get_object_setting(wkhtmltopdf_object_settings *settings, const char *name,
                                         char *value, int vs) {
  return GetSetting(settings ? &settings->settings : nullptr, name, value, vs);
}

CAPI(wkhtmltopdf_converter *) wkhtmltopdf_create_converter(wkhtmltopdf_global_settings *settings) {
  if (settings == nullptr)
    return nullptr;
  return Guarded([&] { return new wkhtmltopdf_converter(settings); },
                 static_cast<wkhtmltopdf_converter *>(nullptr));
}

CAPI(void) wkhtmltopdf_destroy_converter(wkhtmltopdf_converter *converter) { delete converter; }

CAPI(void) wkhtmltopdf_set_debug_callback(wkhtmltopdf_converter *converter,
                                          wkhtmltopdf_str_callback cb) {
  if (converter != nullptr)
    converter->debug = cb;
}

CAPI(void) wkhtmltopdf_set_warning_callback(wkhtmltopdf_converter *converter,
                                            wkhtmltopdf_str_callback cb) {
  if (converter != nullptr)
    converter->warning = cb;
}

CAPI(void) wkhtmltopdf_set_error_callback(wkhtmltopdf_converter *converter,
                                          wkhtmltopdf_str_callback cb) {
  if (converter != nullptr)
    converter->error = cb;
}

CAPI(void) wkhtmltopdf_set_phase_changed_callback(wkhtmltopdf_converter *converter,
                                                  wkhtmltopdf_void_callback cb) {
  if (converter != nullptr)
    converter->phaseChanged = cb;
}

CAPI(void) wkhtmltopdf_set_progress_changed_callback(wkhtmltopdf_converter *converter,
                                                     wkhtmltopdf_int_callback cb) {
  if (converter != nullptr)
    converter->progressChanged = cb;
}

CAPI(void) wkhtmltopdf_set_finished_callback(wkhtmltopdf_converter *converter,
                                             wkhtmltopdf_int_callback cb) {
  if (converter != nullptr)
    converter->finished = cb;
}

CAPI(int) wkhtmltopdf_convert(wkhtmltopdf_converter *converter) {
  if (converter == nullptr)
    return 0;
  // The caller learns why through the error callback, as for any other failure.
  return Guarded(
      [&] { return converter->Convert(); }, 0,
      [&](const char *cause) { converter->OnError(std::string("Conversion failed: ") + cause); });
}

CAPI(void) wkhtmltopdf_add_object(wkhtmltopdf_converter *converter,
                                  wkhtmltopdf_object_settings *setting, const char *data) {
  if (converter == nullptr || setting == nullptr)
    return;
  const bool added = Guarded(
      [&] {
        std::unique_ptr<wkhtmltopdf_object_settings> owned(setting);
        if (data != nullptr)
          owned->html = data;
        converter->objects.push_back(std::move(owned));
        return true;
      },
      false);
  // A page left out would pass for a whole conversion; Convert refuses it.
  converter->objectLost = converter->objectLost || !added;
}

CAPI(int) wkhtmltopdf_current_phase(wkhtmltopdf_converter *converter) {
  return converter != nullptr ? converter->output.CurrentPhase() : 0;
}

CAPI(int) wkhtmltopdf_phase_count(wkhtmltopdf_converter *converter) {
  return converter != nullptr ? converter->output.PhaseCount() : 0;
}

CAPI(const char *) wkhtmltopdf_phase_description(wkhtmltopdf_converter *converter, int phase) {
  return converter != nullptr ? converter->output.PhaseDescription(phase).c_str() : "";
}

CAPI(const char *) wkhtmltopdf_progress_string(wkhtmltopdf_converter *converter) {
  if (converter == nullptr)
    return "";
  return Guarded(
      [&] {
        converter->progressText = std::to_string(converter->output.Progress()) + "%";
        return converter->progressText.c_str();
      },
      "");
}

CAPI(int) wkhtmltopdf_http_error_code(wkhtmltopdf_converter *converter) {
  return converter != nullptr ? converter->output.HttpErrorCode() : 0;
}

CAPI(long) wkhtmltopdf_get_output(wkhtmltopdf_converter *converter, const unsigned char **data) {
  if (converter == nullptr || data == nullptr)
    return 0;
  *data = converter->pdfInMemory.empty() ? nullptr : converter->pdfInMemory.data();
  return static_cast<long>(converter->pdfInMemory.size());
}

} // extern "C"
