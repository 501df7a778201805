#include "devtools_browser.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char **environ;

namespace wkhtmltox {

void MessageQueue::Push(Json message) {
  {
    const std::lock_guard lock(mutex_);
    messages_.push_back(std::move(message));
  }
  arrived_.notify_one();
}

std::optional<Json> MessageQueue::Pop() {
  std::unique_lock lock(mutex_);
  arrived_.wait(lock, [&] { return !messages_.empty() || closed_; });
  if (messages_.empty())
    return std::nullopt;
  Json message = std::move(messages_.front());
  messages_.pop_front();
  return message;
}

void MessageQueue::Close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  arrived_.notify_all();
}

namespace {

std::runtime_error SystemError(const std::string &what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

std::string NewProfileFolder() {
  const char *temporary = std::getenv("TMPDIR");
  std::string folder =
      std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
      "/wkhtmltox-chromium-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr)
    throw SystemError("cannot make the browser's profile folder");
  return folder;
}

// A descriptor above the ones the child is given, so that moving it to 3 or
// 4 in the child never lands on itself and keeps its close-on-exec flag.
int MovedHigh(int fd) {
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  if (moved < 0)
    throw SystemError("cannot prepare the browser's pipe");
  return moved;
}

class SpawnSetup {
public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup &) = delete;
  SpawnSetup &operator=(const SpawnSetup &) = delete;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
};

pid_t SpawnBrowser(const std::vector<std::string> &arguments, int browserEnd) {
  std::vector<char *> argv;
  for (const std::string &argument : arguments)
    argv.push_back(const_cast<char *>(argument.c_str()));
  argv.push_back(nullptr);
  SpawnSetup setup;
  // The browser's own chatter (D-Bus, crash handler) is no message of the page's.
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
    posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                     0);
  posix_spawn_file_actions_adddup2(&setup.actions, browserEnd, 3);
  posix_spawn_file_actions_adddup2(&setup.actions, browserEnd, 4);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  const int error =
      posix_spawn(&child, argv[0], &setup.actions, &setup.attributes, argv.data(), environ);
  if (error != 0) {
    errno = error;
    throw SystemError("cannot run " + arguments.front());
  }
  return child;
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR)
      continue;
    if (sent <= 0)
      throw SystemError("the browser stopped listening");
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

// Whether `process` ended within `wait`; reaps it if so.
bool EndedWithin(pid_t process, std::chrono::milliseconds wait) {
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(process, &status, WNOHANG);
    if (ended == process || (ended < 0 && errno != EINTR))
      return true;
    if (std::chrono::steady_clock::now() >= until)
      return false;
    usleep(10000);
  }
}

// Whether any process of group `group` still runs (zombies aside).
bool GroupRuns(pid_t group) {
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::FILE *file = std::fopen((entry.path() / "stat").c_str(), "r");
    if (file == nullptr)
      continue; // ended while the list was read
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    const char *nameEnd = read ? std::strrchr(line, ')') : nullptr;
    char state = 0;
    int parent = 0, processGroup = 0;
    if (nameEnd != nullptr &&
        std::sscanf(nameEnd + 1, " %c %d %d", &state, &parent, &processGroup) == 3 &&
        processGroup == group && state != 'Z')
      return true;
  }
  return false;
}

// Ends every process of `group` and waits, a bounded time, until none runs.
void EndGroup(pid_t group) {
  kill(-group, SIGKILL);
  for (int wait = 0; wait < 500 && GroupRuns(group); ++wait)
    usleep(10000);
}

} // namespace

DevToolsBrowser::DevToolsBrowser(const std::string &program, std::vector<std::string> flags) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    throw SystemError("cannot make the browser's pipe");
  socket_ = MovedHigh(ends[0]);
  const int browserEnd = MovedHigh(ends[1]);
  try {
    profile_ = NewProfileFolder();
    flags.insert(flags.begin(), program);
    flags.push_back("--remote-debugging-pipe");
    flags.push_back("--user-data-dir=" + profile_);
    flags.push_back("about:blank");
    process_ = SpawnBrowser(flags, browserEnd);
  } catch (...) {
    close(browserEnd);
    close(socket_);
    if (!profile_.empty())
      std::filesystem::remove_all(profile_);
    throw;
  }
  close(browserEnd);
  reader_ = std::thread([this] { ReadMessages(); });
  try {
    Call("Browser.getVersion", Json::object());
  } catch (...) {
    Shutdown();
    throw;
  }
}

DevToolsBrowser::~DevToolsBrowser() { Shutdown(); }

void DevToolsBrowser::Shutdown() {
  if (process_ > 0) {
    try {
      const std::lock_guard lock(writing_);
      WriteAll(socket_, Json{{"id", 0}, {"method", "Browser.close"}}.dump() + '\0');
    } catch (...) {
      // Already gone: the group is ended below all the same.
    }
    if (!EndedWithin(process_, std::chrono::seconds(5))) {
      kill(-process_, SIGKILL);
      EndedWithin(process_, std::chrono::seconds(5));
    }
    // Helpers the browser started may outlive it.
    EndGroup(process_);
    process_ = -1;
  }
  if (socket_ >= 0)
    shutdown(socket_, SHUT_RDWR);
  if (reader_.joinable())
    reader_.join();
  if (socket_ >= 0)
    close(socket_);
  socket_ = -1;
  std::error_code ignored;
  if (!profile_.empty())
    std::filesystem::remove_all(profile_, ignored);
  profile_.clear();
}

std::uint64_t DevToolsBrowser::Send(const std::string &method, Json params,
                                    const std::string &session, MessageQueue &replies) {
  Json message{{"method", method}, {"params", std::move(params)}};
  if (!session.empty())
    message["sessionId"] = session;
  std::uint64_t id = 0;
  {
    const std::lock_guard lock(routing_);
    if (gone_)
      throw std::runtime_error("the browser ended before " + method);
    id = nextId_++;
    waiting_[id] = &replies;
  }
  message["id"] = id;
  try {
    const std::lock_guard lock(writing_);
    WriteAll(socket_, message.dump() + '\0');
  } catch (...) {
    const std::lock_guard lock(routing_);
    waiting_.erase(id);
    throw;
  }
  return id;
}

Json DevToolsBrowser::Call(const std::string &method, Json params) {
  // A queue of its own, so that calls from several threads never take each
  // other's replies.
  MessageQueue reply;
  return Await(reply, Send(method, std::move(params), "", reply), method, [](const Json &) {});
}

void DevToolsBrowser::ReadMessages() {
  std::string pending;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(socket_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      break;
    pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t start = 0;
    for (std::size_t end; (end = pending.find('\0', start)) != std::string::npos; start = end + 1)
      Route(Json::parse(std::string_view(pending).substr(start, end - start), nullptr, false));
    pending.erase(0, start);
  }
  const std::lock_guard lock(routing_);
  gone_ = true;
  for (auto &[id, queue] : waiting_)
    queue->Close();
  waiting_.clear();
  for (auto &[session, queue] : sessions_)
    queue->Close();
}

void DevToolsBrowser::Route(Json message) {
  if (!message.is_object())
    return;
  const std::lock_guard lock(routing_);
  if (const auto id = message.find("id"); id != message.end() && id->is_number_unsigned()) {
    const auto waiter = waiting_.find(id->get<std::uint64_t>());
    if (waiter != waiting_.end()) {
      waiter->second->Push(std::move(message));
      waiting_.erase(waiter);
    }
    return;
  }
  const auto session = message.find("sessionId");
  if (session == message.end() || !session->is_string())
    return; // the browser's own events: nothing the pages wait for
  if (const auto page = sessions_.find(session->get<std::string>()); page != sessions_.end())
    page->second->Push(std::move(message));
}

std::unique_ptr<DevToolsBrowser::Page> DevToolsBrowser::OpenPage() {
  const Json target = Call("Target.createTarget", {{"url", "about:blank"}});
  const std::string targetId = target.value("targetId", std::string());
  const Json attached = Call("Target.attachToTarget", {{"targetId", targetId}, {"flatten", true}});
  return std::make_unique<Page>(*this, targetId, attached.value("sessionId", std::string()));
}

DevToolsBrowser::Page::Page(DevToolsBrowser &browser, std::string target, std::string session)
    : browser_(browser), target_(std::move(target)), session_(std::move(session)) {
  const std::lock_guard lock(browser_.routing_);
  if (browser_.gone_)
    queue_.Close();
  browser_.sessions_[session_] = &queue_;
}

DevToolsBrowser::Page::~Page() {
  {
    // Replies still on their way must not land in a queue that is gone.
    const std::lock_guard lock(browser_.routing_);
    browser_.sessions_.erase(session_);
    for (auto waiter = browser_.waiting_.begin(); waiter != browser_.waiting_.end();)
      waiter = waiter->second == &queue_ ? browser_.waiting_.erase(waiter) : std::next(waiter);
  }
  try {
    browser_.Call("Target.closeTarget", {{"targetId", target_}});
  } catch (...) {
    // A browser that is gone has closed its pages.
  }
}

void DevToolsBrowser::Page::Post(const std::string &method, Json params) {
  browser_.Send(method, std::move(params), session_, queue_);
}

std::optional<Json> DevToolsBrowser::Page::NextEvent() {
  for (;;) {
    std::optional<Json> message = queue_.Pop();
    if (!message || !message->contains("id"))
      return message;
  }
}

} // namespace wkhtmltox
