#include "render_pdf.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "interruption.h"

namespace {

// Margins of a printed book; with the default style sheet's type they give
// lines of 10 to 15 words.
constexpr const char *kMargin = "20mm";

// "pre { white-space: pre-wrap; }": the renderer drops a long preformatted
// block, and everything after it, unless its lines may wrap.
const char kStyleSheet[] =
    "data:text/css;charset=utf-8;base64,cHJlIHsgd2hpdGUtc3BhY2U6IHByZS13cmFwOyB9";

wkhtmltopdf_converter *NewConverter(const RenderJob &job, const std::string &workFolder) {
  wkhtmltopdf_global_settings *global = wkhtmltopdf_create_global_settings();
  wkhtmltopdf_set_global_setting(global, "out", job.pdfPath.c_str());
  const std::string cookieJar = workFolder + "myjar.jar";
  wkhtmltopdf_set_global_setting(global, "load.cookieJar", cookieJar.c_str());
  const bool ownPage = !job.pageWidth.empty() && !job.pageHeight.empty();
  for (const char *side : {"margin.top", "margin.bottom", "margin.left", "margin.right"})
    wkhtmltopdf_set_global_setting(global, side, ownPage ? "0mm" : kMargin);
  if (ownPage) {
    wkhtmltopdf_set_global_setting(global, "size.width", job.pageWidth.c_str());
    wkhtmltopdf_set_global_setting(global, "size.height", job.pageHeight.c_str());
  }

  wkhtmltopdf_object_settings *page = wkhtmltopdf_create_object_settings();
  wkhtmltopdf_set_object_setting(page, "page", job.htmlPath.c_str());
  // The unpacked book is always UTF-8. It is a document, not a program, and
  // it may show pictures from the working folder but read nothing else.
  wkhtmltopdf_set_object_setting(page, "web.defaultEncoding", "utf-8");
  wkhtmltopdf_set_object_setting(page, "web.enableJavascript", "false");
  // Nor is there any script to wait for once the page has loaded.
  wkhtmltopdf_set_object_setting(page, "load.jsdelay", "0");
  wkhtmltopdf_set_object_setting(page, "load.blockLocalFileAccess", "true");
  wkhtmltopdf_set_object_setting(page, "load.allowed.append", workFolder.c_str());
  // Nor may it reach the network: every web address goes to a proxy that is
  // not there, so it fails at once, as a gap, instead of telling a server
  // that the book was opened or waiting on one that never answers.
  wkhtmltopdf_set_object_setting(page, "load.proxy", "http://127.0.0.1:1");
  wkhtmltopdf_set_object_setting(page, "web.userStyleSheet", kStyleSheet);

  wkhtmltopdf_converter *converter = wkhtmltopdf_create_converter(global);
  if (converter != nullptr)
    wkhtmltopdf_add_object(converter, page, nullptr);
  else
    wkhtmltopdf_destroy_object_settings(page);
  return converter;
}

// The whole job's progress, fed by the converters' callbacks from the
// threads that run them. The callbacks carry no context of their own, so
// the job in progress is found through `running`.
class JobProgress {
public:
  explicit JobProgress(const std::vector<RenderJob> &jobs) : done_(jobs.size()) {
    for (const RenderJob &job : jobs) {
      weights_.push_back(std::max<std::size_t>(job.weight, 1));
      total_ += static_cast<double>(weights_.back());
    }
  }

  void Add(wkhtmltopdf_converter *converter, std::size_t piece) { pieceOf_[converter] = piece; }

  // Each piece goes through the working phases, then "Done"; a phase is
  // shown when the first piece reaches it, "Done" when the last does.
  void Update(wkhtmltopdf_converter *converter, int percent) {
    const std::lock_guard lock(mutex_);
    const auto piece = pieceOf_.find(converter);
    if (piece == pieceOf_.end())
      return;
    const int working = std::max(wkhtmltopdf_phase_count(converter) - 1, 1);
    const int phase = std::clamp(wkhtmltopdf_current_phase(converter), 0, working);
    done_[piece->second] = std::min(1.0, (phase * 100 + percent) / (working * 100.0));
    double sum = 0;
    for (std::size_t i = 0; i < done_.size(); ++i)
      sum += done_[i] * static_cast<double>(weights_[i]);
    const int overall = static_cast<int>(100 * sum / total_);
    if (overall != shownPercent_) {
      shownPercent_ = overall;
      OnProgressChanged(converter, overall);
    }
    if (phase < working && phase > shownPhase_) {
      shownPhase_ = phase;
      OnPhaseChanged(converter);
    }
  }

  void Finish(wkhtmltopdf_converter *last) {
    const std::lock_guard lock(mutex_);
    OnPhaseChanged(last);
  }

  std::atomic<bool> stopping{false};

private:
  std::mutex mutex_;
  std::map<wkhtmltopdf_converter *, std::size_t> pieceOf_;
  std::vector<double> done_;
  std::vector<std::size_t> weights_;
  double total_ = 0;
  int shownPercent_ = -1;
  int shownPhase_ = -1;
};

JobProgress *running = nullptr;

void OnPieceProgress(wkhtmltopdf_converter *converter, const int value) {
  running->Update(converter, value);
}

void OnPiecePhase(wkhtmltopdf_converter *converter) { running->Update(converter, 0); }

// Once the job stops, the pieces ended on purpose have nothing to report.
void OnPieceError(wkhtmltopdf_converter *converter, const char *message) {
  if (!running->stopping)
    OnError(converter, message);
}

// Runs the converters, as many at once as there are cores, and waits for
// them; on a failure or a signal the renderer processes are ended, first
// gently, then for good.
bool RunConverters(const std::vector<wkhtmltopdf_converter *> &converters, JobProgress &progress) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable ended;
  std::size_t running = 0;
  auto work = [&] {
    for (std::size_t piece; !failed && !progress.stopping && (piece = next++) < converters.size();)
      if (wkhtmltopdf_convert(converters[piece]) == 0)
        failed = true;
    const std::lock_guard lock(mutex);
    --running;
    ended.notify_one();
  };
  const std::size_t threads =
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), converters.size());
  std::vector<std::thread> workers;
  running = threads;
  for (std::size_t i = 0; i < threads; ++i)
    workers.emplace_back(work);

  std::unique_lock lock(mutex);
  int rounds = 0;
  while (!ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return running == 0; })) {
    if (!failed && interruption::Signal() == 0)
      continue;
    progress.stopping = true;
    interruption::EndChildProcesses(++rounds > 20);
  }
  lock.unlock();
  for (std::thread &worker : workers)
    worker.join();
  return !failed && !progress.stopping && interruption::Signal() == 0;
}

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

int RenderPdfs(const std::vector<RenderJob> &jobs, const std::string &workFolder) {
  wkhtmltopdf_init(0);
  JobProgress progress(jobs);
  std::vector<wkhtmltopdf_converter *> converters;
  bool created = !jobs.empty();
  for (std::size_t piece = 0; piece < jobs.size() && created; ++piece) {
    wkhtmltopdf_converter *converter = NewConverter(jobs[piece], workFolder);
    created = converter != nullptr;
    if (!created)
      break;
    converters.push_back(converter);
    progress.Add(converter, piece);
    wkhtmltopdf_set_progress_changed_callback(converter, OnPieceProgress);
    wkhtmltopdf_set_phase_changed_callback(converter, OnPiecePhase);
    wkhtmltopdf_set_error_callback(converter, OnPieceError);
    wkhtmltopdf_set_warning_callback(converter, OnWarning);
  }
  running = &progress;
  const bool written = created && RunConverters(converters, progress);
  if (written)
    progress.Finish(converters.back());
  running = nullptr;

  if (!written)
    std::fputs("Convertion failed!", stderr);
  int httpErrorCode = 0;
  for (wkhtmltopdf_converter *converter : converters) {
    if (httpErrorCode == 0)
      httpErrorCode = wkhtmltopdf_http_error_code(converter);
    wkhtmltopdf_destroy_converter(converter);
  }
  std::printf("httpErrorCode: %d\n", httpErrorCode);
  wkhtmltopdf_deinit();
  return written ? 1 : 0;
}

int RenderPdf(const std::string &htmlPath, const std::string &pdfPath,
              const std::string &workFolder) {
  return RenderPdfs({{htmlPath, pdfPath, 1}}, workFolder);
}
