#include "program_output.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace wkhtmltox {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ')
    text.remove_prefix(1);
  return text;
}

// The decimal number that `text` starts with, if any.
std::optional<int> LeadingNumber(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data())
    return std::nullopt;
  return value;
}

// The number that follows `marker` in `text`.
std::optional<int> NumberAfter(std::string_view text, std::string_view marker) {
  const std::size_t at = text.find(marker);
  if (at == std::string_view::npos)
    return std::nullopt;
  return LeadingNumber(text.substr(at + marker.size()));
}

} // namespace

ProgramOutput::ProgramOutput(Listener &listener) : listener_(listener) { Reset(); }

void ProgramOutput::Feed(std::string_view chunk) {
  for (char byte : chunk) {
    if (byte == '\n' || byte == '\r') {
      Line(pending_);
      pending_.clear();
    } else {
      pending_ += byte;
    }
  }
}

void ProgramOutput::Finish() {
  if (!pending_.empty())
    Line(pending_);
  pending_.clear();
}

void ProgramOutput::Reset() {
  pending_.clear();
  // The program's phases as 0.12 prints them, until it names its own.
  phases_ = {"Loading page", "Printing pages", "Done"};
  phase_ = 0;
  progress_ = 0;
  httpErrorCode_ = 0;
}

const std::string &ProgramOutput::PhaseDescription(int phase) const {
  static const std::string none;
  return phase >= 0 && phase < PhaseCount() ? phases_[static_cast<std::size_t>(phase)] : none;
}

void ProgramOutput::Line(std::string_view raw) {
  const std::string_view line = Trimmed(raw);
  if (line.empty() || ProgressLine(line) || PhaseLine(line))
    return;
  if (line.starts_with("Error: ")) {
    const std::string message(Trimmed(line.substr(7)));
    NoteHttpStatus(message);
    listener_.OnError(message);
  } else if (line.starts_with("Warning: ")) {
    listener_.OnWarning(std::string(Trimmed(line.substr(9))));
  } else {
    // "Exit with code 1 due to http error: 404" closes a failed load.
    if (auto status = NumberAfter(line, "due to http error: "))
      httpErrorCode_ = *status;
    listener_.OnDebug(std::string(line));
  }
}

// "[=====>      ] 42%" while loading, "[====>  ] Page 2 of 5" while printing.
bool ProgramOutput::ProgressLine(std::string_view line) {
  if (!line.starts_with('['))
    return false;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos)
    return false;
  const std::string_view rest = Trimmed(line.substr(close + 1));
  std::optional<int> percent;
  if (rest.ends_with('%')) {
    percent = LeadingNumber(rest);
  } else if (auto page = NumberAfter(rest, "Page ")) {
    auto pages = NumberAfter(rest, " of ");
    if (pages && *pages > 0)
      percent = *page * 100 / *pages;
  }
  if (percent)
    SetProgress(*percent);
  return true;
}

// "Loading page (1/2)" starts phase 0 of 2 (plus the final "Done").
bool ProgramOutput::PhaseLine(std::string_view line) {
  if (line == "Done") {
    phases_.back() = "Done";
    EnterPhase(PhaseCount() - 1);
    return true;
  }
  const std::size_t open = line.rfind(" (");
  if (open == std::string_view::npos || !line.ends_with(')'))
    return false;
  const std::string_view numbers = line.substr(open + 2, line.size() - open - 3);
  const std::size_t slash = numbers.find('/');
  const auto number = LeadingNumber(numbers);
  const auto count = slash == std::string_view::npos ? std::nullopt
                                                     : LeadingNumber(numbers.substr(slash + 1));
  if (!number || !count || *number < 1 || *number > *count || *count > 64)
    return false;
  phases_.resize(static_cast<std::size_t>(*count) + 1);
  if (phases_.back().empty())
    phases_.back() = "Done";
  phases_[static_cast<std::size_t>(*number - 1)] = std::string(line.substr(0, open));
  EnterPhase(*number - 1);
  return true;
}

void ProgramOutput::NoteHttpStatus(std::string_view message) {
  // "Failed to load URL, with network status code N and http status code H - ..."
  if (auto status = NumberAfter(message, "http status code "); status && *status >= 400 &&
                                                                 httpErrorCode_ == 0)
    httpErrorCode_ = *status;
}

void ProgramOutput::EnterPhase(int phase) {
  phase_ = phase;
  progress_ = 0;
  listener_.OnPhase();
}

void ProgramOutput::SetProgress(int percent) {
  progress_ = std::clamp(percent, 0, 100);
  listener_.OnProgress(progress_);
}

} // namespace wkhtmltox
