// A headless Chromium driven through its DevTools protocol over a pipe
// (--remote-debugging-pipe): no shell, no network port. One browser serves
// every page of a book at once; each page talks through a session of its own.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace wkhtmltox {

using Json = nlohmann::json;

// What arrives for one session: its command results and its events, in order.
class MessageQueue {
public:
  void Push(Json message);
  // The next message; nothing once the browser is gone and the queue is empty.
  std::optional<Json> Pop();
  void Close();

private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Json> messages_;
  bool closed_ = false;
};

class DevToolsBrowser {
public:
  // Starts `program` with `flags`, a fresh profile folder of its own and the
  // protocol on descriptors 3 and 4, in a process group of its own so that
  // ending the group ends every process it started. Throws
  // std::runtime_error when it does not start or does not answer.
  DevToolsBrowser(const std::string &program, std::vector<std::string> flags);
  // Closes the browser, ends what is left of its process group and removes
  // its profile folder.
  ~DevToolsBrowser();
  DevToolsBrowser(const DevToolsBrowser &) = delete;
  DevToolsBrowser &operator=(const DevToolsBrowser &) = delete;

  class Page;
  // A new blank page with a session of its own. Throws std::runtime_error
  // when the browser refuses or is gone.
  std::unique_ptr<Page> OpenPage();

  // A command to the browser itself; its result. Throws std::runtime_error
  // on a protocol error or when the browser is gone.
  Json Call(const std::string &method, Json params);

private:
  friend class Page;
  std::uint64_t Send(const std::string &method, Json params, const std::string &session,
                     MessageQueue &replies);
  // Waits in `queue` for the reply to `id`, handing other messages to `onEvent`.
  template <typename OnEvent>
  Json Await(MessageQueue &queue, std::uint64_t id, const std::string &method, OnEvent onEvent);
  void ReadMessages();
  void Route(Json message);
  void Shutdown();

  pid_t process_ = -1;
  int socket_ = -1;
  std::string profile_;
  std::thread reader_;
  std::mutex writing_;
  std::mutex routing_;
  std::uint64_t nextId_ = 1;
  std::map<std::uint64_t, MessageQueue *> waiting_;
  std::map<std::string, MessageQueue *> sessions_;
  bool gone_ = false;
};

// One page of the browser. Its calls may run on any one thread at a time.
class DevToolsBrowser::Page {
public:
  Page(DevToolsBrowser &browser, std::string target, std::string session);
  ~Page();
  Page(const Page &) = delete;
  Page &operator=(const Page &) = delete;

  // Sends a command without waiting for its result (a reply to an event).
  void Post(const std::string &method, Json params);
  // A command's result; the page's events that arrive meanwhile go to
  // `onEvent`. Throws std::runtime_error on a protocol error or when the
  // browser is gone.
  template <typename OnEvent> Json Call(const std::string &method, Json params, OnEvent onEvent) {
    return browser_.Await(queue_, browser_.Send(method, std::move(params), session_, queue_),
                          method, onEvent);
  }
  // The page's next event; nothing once the browser is gone.
  std::optional<Json> NextEvent();

private:
  DevToolsBrowser &browser_;
  std::string target_;
  std::string session_;
  MessageQueue queue_;
};

template <typename OnEvent>
Json DevToolsBrowser::Await(MessageQueue &queue, std::uint64_t id, const std::string &method,
                            OnEvent onEvent) {
  for (;;) {
    std::optional<Json> message = queue.Pop();
    if (!message)
      throw std::runtime_error("the browser ended while it ran " + method);
    const auto replyId = message->find("id");
    if (replyId == message->end() || !replyId->is_number_unsigned()) {
      onEvent(*message);
      continue;
    }
    if (replyId->get<std::uint64_t>() != id)
      continue; // the reply to a command posted without waiting
    if (const auto error = message->find("error"); error != message->end())
      throw std::runtime_error(method + ": " + error->value("message", std::string("failed")));
    return message->value("result", Json::object());
  }
}

} // namespace wkhtmltox
