// The far end of a pseudo-terminal for tests of the real port: the port opens the terminal's
// device path; the test plays the product on the master side.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace tarvex::test {

class PtyPeer {
 public:
  PtyPeer() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    path_ = ::ptsname(master_);
  }
  ~PtyPeer() { Close(); }
  PtyPeer(const PtyPeer&) = delete;
  PtyPeer& operator=(const PtyPeer&) = delete;

  [[nodiscard]] const std::string& Path() const { return path_; }
  [[nodiscard]] int Fd() const { return master_; }

  void Write(const std::string& bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
      if (n <= 0) throw std::runtime_error("peer write failed");
      at += static_cast<std::size_t>(n);
    }
  }
  // Reads until n bytes arrived or the time is up; returns what came.
  std::string Read(std::size_t n, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (got.size() < n) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t r = ::read(master_, buf, std::min(sizeof buf, n - got.size()));
      if (r <= 0) break;
      got.append(buf, static_cast<std::size_t>(r));
    }
    return got;
  }
  // The lead is pulled: the port's side sees a hang-up.
  void Close() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  int master_ = -1;
  std::string path_;
};

}  // namespace tarvex::test
