#include "interruption.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace interruption {

namespace {

constexpr std::array kSignals = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> arrived{0};
std::array<struct sigaction, kSignals.size()> replaced;

void Note(int signal) {
  int none = 0;
  arrived.compare_exchange_strong(none, signal);
}

// The parent of process `pid` from /proc/PID/stat: the field after the
// parenthesised name and the state letter.
pid_t ParentOf(const char *pid) {
  const std::string path = std::string("/proc/") + pid + "/stat";
  std::FILE *file = std::fopen(path.c_str(), "r");
  if (file == nullptr)
    return 0;
  char line[512];
  const bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  const char *nameEnd = read ? std::strrchr(line, ')') : nullptr;
  if (nameEnd == nullptr)
    return 0;
  char state = 0;
  int parent = 0;
  return std::sscanf(nameEnd + 1, " %c %d", &state, &parent) == 2 ? parent : 0;
}

} // namespace

SignalWatch::SignalWatch() {
  arrived = 0;
  struct sigaction action {};
  action.sa_handler = Note;
  sigemptyset(&action.sa_mask);
  // Restarted calls: the library and the PDF steps read and write files and
  // are left to finish their step.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    sigaction(kSignals[i], &action, &replaced[i]);
}

SignalWatch::~SignalWatch() {
  for (std::size_t i = 0; i < kSignals.size(); ++i)
    sigaction(kSignals[i], &replaced[i], nullptr);
}

int Signal() { return arrived.load(); }

void EndChildProcesses(bool force) {
  DIR *processes = opendir("/proc");
  if (processes == nullptr)
    return;
  const pid_t self = getpid();
  while (const dirent *entry = readdir(processes)) {
    char *end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0' || ParentOf(entry->d_name) != self)
      continue;
    const pid_t child = static_cast<pid_t>(pid);
    // A child that leads a process group of its own (the browser) is ended
    // with all it started.
    kill(getpgid(child) == child ? -child : child, force ? SIGKILL : SIGTERM);
  }
  closedir(processes);
}

} // namespace interruption
