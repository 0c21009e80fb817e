// Cost of one callout over loopback: the client side (libcurl, conversions, the connection pool)
// against a trivial service in this process, so the figures show what the transport adds to a score.
// No score documents: hcs bench measures whole calls, against baselines, with the service in a process
// of its own.
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "transport/http_interface.h"
#include "util/ucstring.h"
#include "util/uri.h"

namespace {

// A minimal loopback service for the whole run: answers every POST with a 200-byte body; a request
// for "/close" gets "Connection: close" and the connection ends after the answer.
class Service {
 public:
  Service() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    ::listen(listenFd_, 64);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
  }
  ~Service() {
    ::shutdown(listenFd_, SHUT_RDWR);
    acceptThread_.join();
    std::lock_guard lock(mutex_);
    for (int fd : fds_) ::shutdown(fd, SHUT_RDWR);
    for (auto& t : threads_) t.join();
    for (int fd : fds_) ::close(fd);
    ::close(listenFd_);
  }
  std::string uri(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void acceptLoop() {
    for (;;) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      std::lock_guard lock(mutex_);
      fds_.push_back(fd);
      threads_.emplace_back([fd] { serve(fd); });
    }
  }

  static void serve(int fd) {
    const std::string body(200, 'r');
    std::string buffer;
    char chunk[16384];
    for (;;) {
      size_t end;
      while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<size_t>(n));
      }
      const size_t at = buffer.find("Content-Length: ");
      const size_t length = at < end ? std::stoul(buffer.substr(at + 16)) : 0;
      while (buffer.size() < end + 4 + length) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<size_t>(n));
      }
      const bool close = buffer.starts_with("POST /close ");
      buffer.erase(0, end + 4 + length);
      const std::string answer =
          "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
          (close ? "\r\nConnection: close" : "") + "\r\n\r\n" + body;
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(answer.size()) ||
          close) {
        ::shutdown(fd, SHUT_WR);
        return;
      }
    }
  }

  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::thread acceptThread_;
  std::mutex mutex_;
  std::vector<int> fds_;  // every connection's, closed when the run ends
  std::vector<std::thread> threads_;
};

Service& service() {
  static Service s;
  return s;
}

hcs::OHTTP& interfaceFor(const char* path) {
  // Shared by every benchmark thread, as one attribute type's interface is shared by a host's threads.
  static hcs::OHTTP keep(hcs::CUri(hcs::UCString(service().uri("/keep"))), 10000, 1);
  static hcs::OHTTP close(hcs::CUri(hcs::UCString(service().uri("/close"))), 10000, 1);
  return std::string_view(path) == "/keep" ? keep : close;
}

void sendLoop(benchmark::State& state, const char* path) {
  hcs::OHTTP& http = interfaceFor(path);
  const hcs::UCString message(std::string("<ATTRS_TO_SCORE>") + std::string(1000, 'a') + "</ATTRS_TO_SCORE>");
  icu::UnicodeString status;
  icu::UnicodeString reply;
  for (auto _ : state) {
    if (http.send(nullptr, message, status, &reply) != 0) state.SkipWithError("send failed");
    benchmark::DoNotOptimize(reply);
  }
  state.SetItemsProcessed(state.iterations());
}

// Isolates OHTTP::send on a kept connection: the pool's take and return, the text conversions, libcurl
// and the loopback exchange (the service's threads share this process's CPU).
void BM_SendKeepAlive(benchmark::State& state) { sendLoop(state, "/keep"); }
BENCHMARK(BM_SendKeepAlive)->ThreadRange(1, 8)->UseRealTime();

// Isolates what a new connection costs per send: the service closes each one after its answer.
void BM_SendNewConnectionEachTime(benchmark::State& state) { sendLoop(state, "/close"); }
BENCHMARK(BM_SendNewConnectionEachTime)->UseRealTime();

}  // namespace
