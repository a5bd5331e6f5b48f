// A small HTTP server for the network tests: listens on 127.0.0.1 on a free port, in a thread
// of its own, and answers each request with what the test's handler decides (a canned answer,
// silence, an endless body, a closed connection, a tunnel to another local port as a CONNECT
// proxy opens one). Stopped and joined by its destructor.
#pragma once

#include "hangguard.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <thread>

extern char** environ;

struct LocalRequest {
  std::string head;  // request line and headers
  std::string body;
  std::string path() const
  {
    const size_t a = head.find(' ');
    const size_t b = head.find(' ', a + 1);
    return a == std::string::npos ? std::string() : head.substr(a + 1, b - a - 1);
  }
};

struct LocalAnswer {
  enum Mode { Send, Close, Stall, Endless, Tunnel };
  Mode mode = Send;
  // Sent as they are (Send), or once before the endless filler (Endless) or the tunnel (Tunnel).
  std::string bytes;
  int tunnelPort = 0;  // Tunnel: the port of 127.0.0.1 the connection is joined to
};

inline std::string httpAnswer(int status, const std::string& type, const std::string& body,
                              const std::string& extra = std::string())
{
  std::string out = "HTTP/1.1 " + std::to_string(status) + " X\r\nConnection: close\r\n";
  if (!type.empty())
    out += "Content-Type: " + type + "\r\n";
  out += extra;
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  return out;
}

class LocalHttpServer {
 public:
  using Handler = std::function<LocalAnswer(const LocalRequest&)>;

  explicit LocalHttpServer(Handler h) : handler(std::move(h))
  {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t n = sizeof a;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      return;
    port = ntohs(a.sin_port);
    worker = std::thread([this] { run(); });
  }
  ~LocalHttpServer()
  {
    stopping = true;
    if (worker.joinable())
      worker.join();
    if (listener >= 0)
      ::close(listener);
  }
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  std::string url(const std::string& path) const
  {
    return "http://127.0.0.1:" + std::to_string(port) + path;
  }
  int port = 0;
  std::atomic<int> connections{0};

 private:
  bool waitReadable(int fd, int ms) const
  {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }
  // Whether the client sends more within the hang guard (a busy machine may keep it silent for
  // seconds between its connect and its request); false once the server stops.
  bool waitRequest(int fd) const
  {
    for (long waited = 0; waited < HANG_GUARD_MS && !stopping; waited += 50)
      if (waitReadable(fd, 50))
        return true;
    return false;
  }
  void run()
  {
    while (!stopping) {
      if (!waitReadable(listener, 50))
        continue;
      const int fd = ::accept(listener, nullptr, nullptr);
      if (fd < 0)
        continue;
      ++connections;
      serve(fd);
      ::close(fd);
    }
  }
  bool sendAll(int fd, const std::string& s) const { return sendAll(fd, s.data(), s.size()); }
  bool sendAll(int fd, const char* data, size_t size) const
  {
    size_t done = 0;
    while (done < size) {
      const ssize_t k = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
      if (k <= 0)
        return false;
      done += static_cast<size_t>(k);
    }
    return true;
  }
  void serve(int fd)
  {
    LocalRequest request;
    std::string raw;
    char buffer[4096];
    size_t headEnd = std::string::npos;
    size_t want = 0;
    while (waitRequest(fd)) {
      const ssize_t k = ::recv(fd, buffer, sizeof buffer, 0);
      if (k <= 0)
        break;
      raw.append(buffer, static_cast<size_t>(k));
      if (headEnd == std::string::npos && (headEnd = raw.find("\r\n\r\n")) != std::string::npos) {
        const size_t cl = raw.find("Content-Length: ");
        if (cl != std::string::npos && cl < headEnd)
          want = std::stoul(raw.substr(cl + 16));
      }
      if (headEnd != std::string::npos && raw.size() >= headEnd + 4 + want)
        break;
    }
    if (headEnd == std::string::npos)
      return;
    request.head = raw.substr(0, headEnd + 2);
    request.body = raw.substr(headEnd + 4);
    const LocalAnswer answer = handler(request);
    switch (answer.mode) {
      case LocalAnswer::Send:
        sendAll(fd, answer.bytes);
        break;
      case LocalAnswer::Close:
        break;
      case LocalAnswer::Stall:
        while (!stopping && !waitReadable(fd, 50)) {
        }
        break;
      case LocalAnswer::Tunnel:
        sendAll(fd, answer.bytes);
        relay(fd, answer.tunnelPort);
        break;
      case LocalAnswer::Endless: {
        sendAll(fd, answer.bytes);
        const std::string filler(65536, 'x');
        for (int i = 0; i < 100000 && !stopping; ++i) {
          if (::send(fd, filler.data(), filler.size(), MSG_NOSIGNAL) <= 0)
            break;
        }
        break;
      }
    }
    ::shutdown(fd, SHUT_WR);
  }

  // Copies bytes both ways between the client and 127.0.0.1:port until either side ends.
  void relay(int fd, int port)
  {
    const int target = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (target >= 0 && ::connect(target, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      char buffer[16384];
      pollfd p[2] = {{fd, POLLIN, 0}, {target, POLLIN, 0}};
      bool open = true;
      while (open && !stopping) {
        if (::poll(p, 2, 50) <= 0)
          continue;
        for (int i = 0; i < 2 && open; ++i) {
          if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
          const ssize_t k = ::recv(p[i].fd, buffer, sizeof buffer, 0);
          open = k > 0 && sendAll(p[1 - i].fd, buffer, static_cast<size_t>(k));
        }
      }
    }
    if (target >= 0)
      ::close(target);
  }

  Handler handler;
  int listener = -1;
  std::atomic<bool> stopping{false};
  std::thread worker;
};

// A host name no lookup can succeed for that sends no query off the machine: a label longer
// than DNS allows (63 octets) is refused by the resolver before it asks a name server.
inline std::string unresolvableHost()
{
  return std::string(70, 'a') + ".invalid";
}

// A port on 127.0.0.1 that nothing listens on (bound, then closed).
inline int closedLocalPort()
{
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
  ::close(s);
  return ntohs(a.sin_port);
}

// Whether the program started as `pid` has ended (it is left to be waited for).
inline bool programEnded(pid_t pid)
{
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// Whether something accepts connections on the port of 127.0.0.1 within the time, while the
// program `pid` (when given) runs.
inline bool localPortOpen(int port, long ms, pid_t pid = 0)
{
  for (long waited = 0; waited < ms && !(pid > 0 && programEnded(pid)); waited += 50) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool open = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    if (open)
      return true;
    usleep(50 * 1000);
  }
  return false;
}

// Runs a program with its output thrown away: its exit status when waited for, else 0 and its
// process id in *started (-1 when it cannot start).
inline int runQuiet(const char* const* argv, bool wait, pid_t* started)
{
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) == 0) {
    if (wait)
      waitpid(pid, &status, 0);
    else
      *started = pid, status = 0;
  }
  posix_spawn_file_actions_destroy(&actions);
  return status;
}
