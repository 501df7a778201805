// SIGINT, SIGTERM and SIGHUP while a conversion runs: the signal is noted,
// and the conversion stops at its next step, ends the renderer's processes
// and leaves the working folder as it found it.
#pragma once

namespace interruption {

// Notes the three signals while it lives; the handlers it replaced come back
// when it goes.
class SignalWatch {
public:
  SignalWatch();
  ~SignalWatch();
  SignalWatch(const SignalWatch &) = delete;
  SignalWatch &operator=(const SignalWatch &) = delete;
};

// The signal that arrived, or 0.
int Signal();

// Ends every child process of this one, with all the processes of a child
// that leads a process group of its own (SIGKILL when `force`, else SIGTERM).
void EndChildProcesses(bool force);

} // namespace interruption
