// The libwkhtmltox layer: settings to program options, the program's output
// back to events, and whole conversions through the C interface.
#include <wkhtmltox/pdf.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mobi_writer.h"
#include "pdf_tools.h"
#include "program_output.h"
#include "settings.h"
#include "test_files.h"

namespace {

using testbook::ScratchFolder;
using wkhtmltox::Settings;
using Arguments = std::vector<std::string>;

// The value that follows `option`, or "" when the option is absent.
std::string ValueOf(const Arguments &arguments, const std::string &option) {
  auto at = std::find(arguments.begin(), arguments.end(), option);
  return at != arguments.end() && at + 1 != arguments.end() ? *(at + 1) : "";
}

bool Holds(const Arguments &arguments, const std::string &argument) {
  return std::find(arguments.begin(), arguments.end(), argument) != arguments.end();
}

TEST(WkhtmltoxSettings, PathsWithSpacesQuotesAndDashesStayWholeArguments) {
  Settings global(wkhtmltox::GlobalSettingRules());
  Settings page(wkhtmltox::ObjectSettingRules());
  const std::string folder = "/tmp/my \"odd\" 'books'/";
  ASSERT_TRUE(global.Set("out", "-book.pdf"));
  ASSERT_TRUE(global.Set("load.cookieJar", folder + "myjar.jar"));
  ASSERT_TRUE(page.Set("page", folder + "-tmp Data.htm"));
  ASSERT_TRUE(page.Set("load.allowed.append", folder));

  const Arguments arguments = wkhtmltox::BuildArguments("/usr/bin/wkhtmltopdf", global, {&page},
                                                        global.Get("out").value());
  EXPECT_EQ(arguments.front(), "/usr/bin/wkhtmltopdf");
  EXPECT_EQ(ValueOf(arguments, "--cookie-jar"), folder + "myjar.jar");
  EXPECT_EQ(ValueOf(arguments, "--allow"), folder);
  EXPECT_EQ(ValueOf(arguments, "page"),
            "file:///tmp/my%20%22odd%22%20%27books%27/-tmp%20Data.htm");
  EXPECT_EQ(arguments.back(), "./-book.pdf"); // never read as an option
}

TEST(WkhtmltoxSettings, RelativePagesBecomeAbsoluteAndUrlsStay) {
  EXPECT_EQ(wkhtmltox::PageUrl("http://example.org/a b"), "http://example.org/a b");
  const std::string relative = wkhtmltox::PageUrl("book/../page.htm");
  EXPECT_EQ(relative, "file://" + (std::filesystem::current_path() / "page.htm").string());
}

TEST(WkhtmltoxSettings, DefaultsGiveAllFourMargins) {
  Settings global(wkhtmltox::GlobalSettingRules());
  ASSERT_TRUE(global.Set("margin.left", "2cm"));
  Arguments arguments;
  global.AppendOptions(arguments);
  EXPECT_EQ(ValueOf(arguments, "--margin-top"), "10mm");
  EXPECT_EQ(ValueOf(arguments, "--margin-bottom"), "10mm");
  EXPECT_EQ(ValueOf(arguments, "--margin-left"), "2cm");
  EXPECT_EQ(ValueOf(arguments, "--margin-right"), "10mm");
  EXPECT_EQ(global.Get("margin.top"), "10mm");
}

TEST(WkhtmltoxSettings, SwitchesMapBothWaysAndBadValuesAreRefused) {
  Settings page(wkhtmltox::ObjectSettingRules());
  ASSERT_TRUE(page.Set("web.enableJavascript", "false"));
  ASSERT_TRUE(page.Set("load.blockLocalFileAccess", "true"));
  ASSERT_TRUE(page.Set("web.defaultEncoding", "utf-8"));
  EXPECT_FALSE(page.Set("web.loadImages", "maybe"));
  EXPECT_FALSE(page.Set("no.such.setting", "1"));
  EXPECT_FALSE(page.Set("page.append", "x")); // not a list
  Arguments arguments;
  page.AppendOptions(arguments);
  EXPECT_TRUE(Holds(arguments, "--disable-javascript"));
  EXPECT_TRUE(Holds(arguments, "--disable-local-file-access"));
  EXPECT_FALSE(Holds(arguments, "--enable-local-file-access"));
  EXPECT_FALSE(Holds(arguments, "--no-images"));
  EXPECT_EQ(ValueOf(arguments, "--encoding"), "utf-8");
}

TEST(WkhtmltoxSettings, ListEntriesByIndexAndAppend) {
  Settings page(wkhtmltox::ObjectSettingRules());
  ASSERT_TRUE(page.Set("load.allowed[1]", "/b"));
  ASSERT_TRUE(page.Set("load.allowed[0]", "/a"));
  ASSERT_TRUE(page.Set("load.allowed.append", "/c"));
  EXPECT_FALSE(page.Set("load.allowed[x]", "/d"));
  EXPECT_EQ(page.Get("load.allowed"), "/a\n/b\n/c");
  Arguments arguments;
  page.AppendOptions(arguments);
  EXPECT_EQ(arguments, (Arguments{"--allow", "/a", "--allow", "/b", "--allow", "/c"}));
}

// Records what the parser reports.
struct Recorder : wkhtmltox::ProgramOutput::Listener {
  void OnProgress(int percent) override { progress.push_back(percent); }
  void OnPhase() override { phases.push_back(output->PhaseDescription(output->CurrentPhase())); }
  void OnError(const std::string &message) override { errors.push_back(message); }
  void OnWarning(const std::string &message) override { warnings.push_back(message); }
  void OnDebug(const std::string &message) override { debug.push_back(message); }

  const wkhtmltox::ProgramOutput *output = nullptr;
  std::vector<int> progress;
  std::vector<std::string> phases, errors, warnings, debug;
};

// What wkhtmltopdf 0.12.6 writes for a page with one missing picture.
const char kProgramOutput[] =
    "QStandardPaths: XDG_RUNTIME_DIR not set, defaulting to '/tmp/runtime-root'\n"
    "Loading page (1/2)\n"
    "[>                                       ] 0%\r"
    "[====================>                   ] 50%\r"
    "Warning: Failed to load file:///w/missing.png (ignore)       \n"
    "[========================================] 100%\r"
    "Printing pages (2/2)                                 \n"
    "[>                                       ] Page 1 of 4\r"
    "[==========>                             ] Page 2 of 4\r"
    "Done                                                 \n";

TEST(WkhtmltoxOutput, ProgressPhasesAndWarningsInAnyChunking) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, sizeof kProgramOutput}) {
    Recorder recorder;
    wkhtmltox::ProgramOutput output(recorder);
    recorder.output = &output;
    const std::string_view text(kProgramOutput);
    for (std::size_t at = 0; at < text.size(); at += chunk)
      output.Feed(text.substr(at, chunk));
    output.Finish();
    EXPECT_EQ(recorder.progress, (std::vector<int>{0, 50, 100, 25, 50})) << chunk;
    EXPECT_EQ(recorder.phases,
              (std::vector<std::string>{"Loading page", "Printing pages", "Done"}));
    EXPECT_EQ(recorder.warnings,
              (std::vector<std::string>{"Failed to load file:///w/missing.png (ignore)"}));
    EXPECT_TRUE(recorder.errors.empty());
    ASSERT_EQ(recorder.debug.size(), 1u);
    EXPECT_EQ(output.PhaseCount(), 3);
    EXPECT_EQ(output.CurrentPhase(), 2);
    EXPECT_EQ(output.HttpErrorCode(), 0);
  }
}

TEST(WkhtmltoxOutput, HttpErrorsAndErrorLines) {
  Recorder recorder;
  wkhtmltox::ProgramOutput output(recorder);
  recorder.output = &output;
  output.Feed("Error: Failed to load http://x/a, with network status code 203 and http status "
              "code 404 - Error downloading\nExit with code 1 due to http error: 404\n");
  output.Feed("Error: unterminated last line");
  output.Finish();
  ASSERT_EQ(recorder.errors.size(), 2u);
  EXPECT_EQ(recorder.errors[1], "unterminated last line");
  EXPECT_EQ(output.HttpErrorCode(), 404);
  EXPECT_EQ(output.PhaseDescription(7), "");
}

// --- Whole conversions through the C interface -----------------------------

struct Events {
  std::vector<int> progress;
  std::vector<std::string> phases, errors;
};
Events *events = nullptr;

void RecordProgress(wkhtmltopdf_converter *, const int value) { events->progress.push_back(value); }
void RecordPhase(wkhtmltopdf_converter *converter) {
  events->phases.push_back(
      wkhtmltopdf_phase_description(converter, wkhtmltopdf_current_phase(converter)));
}
void RecordError(wkhtmltopdf_converter *, const char *message) {
  events->errors.push_back(message);
}

// Converts `page` (a path, or HTML text when `html` is set) to `out`.
int Convert(const std::string &out, const std::string &page, Events &recorded,
            const char *html = nullptr, std::vector<unsigned char> *memory = nullptr) {
  events = &recorded;
  wkhtmltopdf_init(0);
  wkhtmltopdf_global_settings *global = wkhtmltopdf_create_global_settings();
  EXPECT_EQ(wkhtmltopdf_set_global_setting(global, "out", out.c_str()), 1);
  wkhtmltopdf_object_settings *object = wkhtmltopdf_create_object_settings();
  EXPECT_EQ(wkhtmltopdf_set_object_setting(object, "page", page.c_str()), 1);
  EXPECT_EQ(wkhtmltopdf_set_object_setting(object, "bogus", "1"), 0);
  wkhtmltopdf_converter *converter = wkhtmltopdf_create_converter(global);
  wkhtmltopdf_set_progress_changed_callback(converter, RecordProgress);
  wkhtmltopdf_set_phase_changed_callback(converter, RecordPhase);
  wkhtmltopdf_set_error_callback(converter, RecordError);
  wkhtmltopdf_add_object(converter, object, html);
  const int result = wkhtmltopdf_convert(converter);
  if (memory != nullptr) {
    const unsigned char *data = nullptr;
    const long size = wkhtmltopdf_get_output(converter, &data);
    if (size > 0)
      memory->assign(data, data + size);
  }
  EXPECT_EQ(wkhtmltopdf_http_error_code(converter), 0);
  wkhtmltopdf_destroy_converter(converter);
  wkhtmltopdf_deinit();
  events = nullptr;
  return result;
}

TEST(WkhtmltoxConvert, WritesAPdfAtPathsWithSpacesAndQuotes) {
  ScratchFolder scratch;
  const std::filesystem::path folder = scratch.Path() / "a b 'c' \"d\"";
  std::filesystem::create_directory(folder);
  const std::string page = (folder / "-page one.htm").string();
  testbook::WriteFile(page,
                      testbook::ToBytes("<html><body><p>Quoted paths work</p></body></html>"));
  const std::string out = (folder / "-out put.pdf").string();
  Events recorded;
  ASSERT_EQ(Convert(out, page, recorded), 1);
  EXPECT_TRUE(testbook::IsPdf(out));
  EXPECT_NE(testbook::PdfText(out).find("Quoted paths work"), std::string::npos);
  EXPECT_NE(std::find(recorded.progress.begin(), recorded.progress.end(), 100),
            recorded.progress.end());
  EXPECT_FALSE(recorded.phases.empty());
  EXPECT_EQ(recorded.phases.back(), "Done");
  EXPECT_TRUE(recorded.errors.empty());
}

TEST(WkhtmltoxConvert, FailsWhenNoPdfCanBeWritten) {
  ScratchFolder scratch;
  const std::string page = scratch.File("page.htm");
  testbook::WriteFile(page, testbook::ToBytes("<p>text</p>"));
  std::filesystem::create_directory(scratch.File("taken.pdf"));
  Events recorded;
  EXPECT_EQ(Convert(scratch.File("taken.pdf"), page, recorded), 0); // the program exits 0 here
  EXPECT_TRUE(std::filesystem::is_directory(scratch.File("taken.pdf")));
  ASSERT_FALSE(recorded.errors.empty());
  EXPECT_NE(recorded.errors.back().find("taken.pdf"), std::string::npos);

  Events missing;
  EXPECT_EQ(Convert(scratch.File("out.pdf"), scratch.File("missing.htm"), missing), 0);
  EXPECT_FALSE(std::filesystem::exists(scratch.File("out.pdf")));
  EXPECT_FALSE(missing.errors.empty());
}

TEST(WkhtmltoxConvert, PageInMemoryToPdfInMemory) {
  Events recorded;
  std::vector<unsigned char> pdf;
  ASSERT_EQ(Convert("", "", recorded, "<html><body>From memory</body></html>", &pdf), 1);
  ASSERT_GT(pdf.size(), 5u);
  EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");
}

TEST(WkhtmltoxConvert, AFailureInsideTheLayerReportsItsCause) {
  const char *folder = std::getenv("TMPDIR");
  const std::string saved = folder != nullptr ? folder : "";
  setenv("TMPDIR", "/nonexistent-folder", 1); // no temporary file for the page in memory
  Events recorded;
  const int result = Convert("", "", recorded, "<p>text</p>");
  folder != nullptr ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR");
  EXPECT_EQ(result, 0);
  ASSERT_EQ(recorded.errors.size(), 1u);
  EXPECT_NE(recorded.errors[0].find("temporary file"), std::string::npos) << recorded.errors[0];
}

TEST(WkhtmltoxConvert, SettingsReadBackAndNullsAreHarmless) {
  wkhtmltopdf_global_settings *global = wkhtmltopdf_create_global_settings();
  char value[8];
  EXPECT_EQ(wkhtmltopdf_get_global_setting(global, "margin.top", value, sizeof value), 1);
  EXPECT_STREQ(value, "10mm");
  ASSERT_EQ(wkhtmltopdf_set_global_setting(global, "documentTitle", "A long title"), 1);
  EXPECT_EQ(wkhtmltopdf_get_global_setting(global, "documentTitle", value, sizeof value), 1);
  EXPECT_STREQ(value, "A long "); // cut to the buffer
  EXPECT_EQ(wkhtmltopdf_get_global_setting(global, "out", value, sizeof value), 0);
  wkhtmltopdf_destroy_global_settings(global);
  EXPECT_EQ(wkhtmltopdf_convert(nullptr), 0);
  EXPECT_EQ(wkhtmltopdf_create_converter(nullptr), nullptr);
  EXPECT_STREQ(wkhtmltopdf_phase_description(nullptr, 0), "");
}

} // namespace
