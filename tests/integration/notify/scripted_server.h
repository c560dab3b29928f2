#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sentrel::testing {

// A TCP server on 127.0.0.1 that plays one scripted conversation with one
// client, for replies no real server gives on request. Every wait is bounded
// and the destructor ends the script's thread.
class ScriptedServer {
 public:
  class Connection {
   public:
    explicit Connection(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

    void Send(const std::string& text) {
      std::size_t done = 0;
      while (done < text.size()) {
        const ssize_t n = send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
      }
    }
    // One line without its CR LF; empty after 5 s, a closed peer or stop.
    std::string ReadLine() {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      for (;;) {
        if (const std::size_t lf = buffer_.find("\r\n"); lf != std::string::npos) {
          std::string line = buffer_.substr(0, lf);
          buffer_.erase(0, lf + 2);
          received.push_back(line);
          return line;
        }
        if (!Fill(deadline)) return {};
      }
    }
    // Raw bytes up to and including `end`, for the data phase.
    std::string ReadUntil(const std::string& end) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      for (;;) {
        if (const std::size_t at = buffer_.find(end); at != std::string::npos) {
          std::string bytes = buffer_.substr(0, at + end.size());
          buffer_.erase(0, at + end.size());
          data += bytes;
          return bytes;
        }
        if (!Fill(deadline)) return {};
      }
    }
    // Keeps the connection open, saying nothing, until the test ends.
    void StaySilent() {
      while (!stopping_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool Stopping() const { return stopping_; }

    std::vector<std::string> received;  // lines read so far
    std::string data;                   // what ReadUntil returned so far

   private:
    bool Fill(std::chrono::steady_clock::time_point deadline) {
      while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char chunk[4096];
        const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
      }
      return false;
    }
    int fd_;
    const std::atomic<bool>& stopping_;
    std::string buffer_;
  };

  using Script = std::function<void(Connection&)>;

  explicit ScriptedServer(Script script) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listen_, 4);
    socklen_t length = sizeof address;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, script = std::move(script)] { Run(script); });
  }
  ~ScriptedServer() {
    stopping_ = true;
    thread_.join();
    close(listen_);
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::string Port() const { return std::to_string(port_); }
  // Lines the script read; waits (at most 5 s) for the script to end.
  std::vector<std::string> Received() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(5), [this] { return finished_; });
    return received_;
  }
  // Bytes the script read with ReadUntil; waits like Received.
  std::string Data() {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, std::chrono::seconds(5), [this] { return finished_; });
    return data_;
  }

 private:
  void Run(const Script& script) {
    RunScript(script);
    std::lock_guard lock(mutex_);
    finished_ = true;
    done_.notify_all();
  }

  void RunScript(const Script& script) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stopping_ && std::chrono::steady_clock::now() < deadline) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      Connection connection(fd, stopping_);
      script(connection);
      {
        std::lock_guard lock(mutex_);
        received_ = connection.received;
        data_ = connection.data;
      }
      close(fd);
      return;
    }
  }

  int listen_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::vector<std::string> received_;
  std::string data_;
  std::thread thread_;
};

}  // namespace sentrel::testing
