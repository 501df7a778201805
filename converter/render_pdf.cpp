#include "render_pdf.h"

#include <cstdio>

namespace {

// "pre { white-space: pre-wrap; }": the renderer drops a long preformatted
// block, and everything after it, unless its lines may wrap.
const char kStyleSheet[] =
    "data:text/css;charset=utf-8;base64,cHJlIHsgd2hpdGUtc3BhY2U6IHByZS13cmFwOyB9";

} // namespace

void OnProgressChanged(wkhtmltopdf_converter *, const int value) {
  std::printf("%3d%%\r", value);
  std::fflush(stdout);
}

void OnPhaseChanged(wkhtmltopdf_converter *converter) {
  const int phase = wkhtmltopdf_current_phase(converter);
  std::puts(wkhtmltopdf_phase_description(converter, phase));
}

void OnError(wkhtmltopdf_converter *, const char *message) {
  std::fprintf(stderr, "Error: %s\n", message);
}

void OnWarning(wkhtmltopdf_converter *, const char *message) {
  std::fprintf(stderr, "Warning: %s\n", message);
}

int RenderPdf(const std::string &htmlPath, const std::string &pdfPath,
              const std::string &workFolder) {
  wkhtmltopdf_init(0);
  wkhtmltopdf_global_settings *global = wkhtmltopdf_create_global_settings();
  wkhtmltopdf_set_global_setting(global, "out", pdfPath.c_str());
  const std::string cookieJar = workFolder + "myjar.jar";
  wkhtmltopdf_set_global_setting(global, "load.cookieJar", cookieJar.c_str());

  wkhtmltopdf_object_settings *page = wkhtmltopdf_create_object_settings();
  wkhtmltopdf_set_object_setting(page, "page", htmlPath.c_str());
  // The unpacked book is always UTF-8. It is a document, not a program, and
  // it may show pictures from the working folder but read nothing else.
  wkhtmltopdf_set_object_setting(page, "web.defaultEncoding", "utf-8");
  wkhtmltopdf_set_object_setting(page, "web.enableJavascript", "false");
  wkhtmltopdf_set_object_setting(page, "load.blockLocalFileAccess", "true");
  wkhtmltopdf_set_object_setting(page, "load.allowed.append", workFolder.c_str());
  // Nor may it reach the network: every web address goes to a proxy that is
  // not there, so it fails at once, as a gap, instead of telling a server
  // that the book was opened or waiting on one that never answers.
  wkhtmltopdf_set_object_setting(page, "load.proxy", "http://127.0.0.1:1");
  wkhtmltopdf_set_object_setting(page, "web.userStyleSheet", kStyleSheet);

  wkhtmltopdf_converter *converter = wkhtmltopdf_create_converter(global);
  wkhtmltopdf_set_progress_changed_callback(converter, OnProgressChanged);
  wkhtmltopdf_set_phase_changed_callback(converter, OnPhaseChanged);
  wkhtmltopdf_set_error_callback(converter, OnError);
  wkhtmltopdf_set_warning_callback(converter, OnWarning);
  if (converter != nullptr)
    wkhtmltopdf_add_object(converter, page, nullptr);
  else
    wkhtmltopdf_destroy_object_settings(page);

  const int result = wkhtmltopdf_convert(converter);
  if (result == 0)
    std::fputs("Convertion failed!", stderr);
  std::printf("httpErrorCode: %d\n", wkhtmltopdf_http_error_code(converter));
  wkhtmltopdf_destroy_converter(converter);
  wkhtmltopdf_deinit();
  return result;
}
