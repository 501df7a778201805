// The converter's progress, phase, error and warning events, and the state
// they leave (phase, progress, HTTP error code). The wkhtmltopdf program's
// standard error is fed in as text; the Chromium engine reports directly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wkhtmltox {

class ProgramOutput {
public:
  class Listener {
  public:
    virtual ~Listener() = default;
    virtual void OnProgress(int percent) = 0;
    virtual void OnPhase() = 0;
    virtual void OnError(const std::string &message) = 0;
    virtual void OnWarning(const std::string &message) = 0;
    // Any other line the program writes.
    virtual void OnDebug(const std::string &message) = 0;
  };

  explicit ProgramOutput(Listener &listener);

  // Takes the next piece of the program's output; lines end at "\n" or "\r"
  // (the progress bar rewrites its line with "\r").
  void Feed(std::string_view chunk);
  // Handles a last line the program left unterminated.
  void Finish();
  // Forgets an earlier run: phases, progress and HTTP code start afresh.
  void Reset();

  // Events a renderer reports without going through text.
  void EnterPhase(int phase);
  void SetProgress(int percent);
  void Error(const std::string &message) { listener_.OnError(message); }
  void Warning(const std::string &message) { listener_.OnWarning(message); }

  int CurrentPhase() const { return phase_; }
  int PhaseCount() const { return static_cast<int>(phases_.size()); }
  // "" for a phase out of range.
  const std::string &PhaseDescription(int phase) const;
  int Progress() const { return progress_; }
  // The HTTP status the page load failed with, 0 when none was reported.
  int HttpErrorCode() const { return httpErrorCode_; }

private:
  void Line(std::string_view line);
  bool ProgressLine(std::string_view line);
  bool PhaseLine(std::string_view line);
  void NoteHttpStatus(std::string_view message);

  Listener &listener_;
  std::string pending_;
  std::vector<std::string> phases_;
  int phase_ = 0;
  int progress_ = 0;
  int httpErrorCode_ = 0;
};

} // namespace wkhtmltox
