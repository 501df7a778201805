#include "run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace wkhtmltox {

namespace {

class SpawnActions {
public:
  SpawnActions() { posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions &) = delete;
  SpawnActions &operator=(const SpawnActions &) = delete;
  posix_spawn_file_actions_t *Get() { return &actions_; }

private:
  posix_spawn_file_actions_t actions_;
};

int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR)
      return 127;
  if (WIFSIGNALED(status))
    return 128 + WTERMSIG(status);
  return WEXITSTATUS(status);
}

void Drain(int fd, const std::function<void(std::string_view)> &onStandardError) {
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0)
      onStandardError(std::string_view(buffer, static_cast<std::size_t>(got)));
    else if (got == 0 || errno != EINTR)
      return;
  }
}

} // namespace

ProgramRun RunProgram(const std::vector<std::string> &arguments,
                      const std::function<void(std::string_view)> &onStandardError) {
  ProgramRun run;
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);

  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    run.failure = std::strerror(errno);
    return run;
  }
  SpawnActions actions;
  posix_spawn_file_actions_addopen(actions.Get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(actions.Get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(actions.Get(), pipeEnds[1], STDERR_FILENO);
  pid_t child = 0;
  const int error = posix_spawnp(&child, argv[0], actions.Get(), nullptr, argv.data(), environ);
  close(pipeEnds[1]);
  if (error != 0) {
    close(pipeEnds[0]);
    run.failure = std::strerror(error);
    return run;
  }
  run.started = true;
  try {
    Drain(pipeEnds[0], onStandardError);
  } catch (...) {
    // The child is still reaped; closing the pipe ends it if it keeps writing.
    close(pipeEnds[0]);
    WaitFor(child);
    throw;
  }
  close(pipeEnds[0]);
  run.status = WaitFor(child);
  return run;
}

} // namespace wkhtmltox
