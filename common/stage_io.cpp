#include "stage_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace kv {
namespace {

// Writes all of s; false when the stream refuses it. A stream left non-blocking by
// whoever started us is waited for rather than taken for a failure.
bool write_all(int fd, std::string_view s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n > 0) {
      s.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
#ifndef _WIN32
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
    }
#endif
    return false;
  }
  return true;
}

[[noreturn]] void fail_cannot_write() {
  write_all(2, "runtime error: cannot write output\r\n");
  std::_Exit(1);
}

// Standard output carries the product of a stage and can be large: buffer it.
// Standard error is written through at once so diagnostics interleave as produced.
struct OutBuffer {
  std::string data;
  ~OutBuffer() { flush(); }
  void flush() {
    if (!data.empty() && !write_all(1, data)) fail_cannot_write();
    data.clear();
  }
  void add(std::string_view s) {
    data.append(s);
    if (data.size() >= (1u << 16)) flush();
  }
};

OutBuffer& out_buffer() {
  static OutBuffer buffer;
  return buffer;
}

#ifdef _WIN32
// Bytes go out unchanged: no LF to CR LF translation on the standard streams.
const bool binary_streams = [] {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  return true;
}();

// Windows has no device that never ends: NUL reads empty, the console until its end.
bool finite_input(int, const struct stat& st) { return !S_ISDIR(st.st_mode); }
#else
bool is_null_device(const struct stat& st) {
  static const dev_t null_rdev = [] {
    struct stat n {};
    return ::stat("/dev/null", &n) == 0 ? n.st_rdev : static_cast<dev_t>(-1);
  }();
  return st.st_rdev == null_rdev;
}

// Among character devices only the null device ends by itself, and a terminal ends when
// its user says so; zero, random, full and the like would be read forever.
bool finite_input(int fd, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return false;
  if (S_ISCHR(st.st_mode)) return is_null_device(st) || ::isatty(fd);
  return true;
}
#endif

// An open descriptor for an input read_file accepts, or -1. Without wait, opening a FIFO
// does not wait for its writer.
int open_input(const std::string& path, bool wait) {
  int flags = O_RDONLY | O_BINARY | O_CLOEXEC;
#ifdef O_NONBLOCK
  if (!wait) flags |= O_NONBLOCK;
#else
  (void)wait;
#endif
  int fd = ::open(path.c_str(), flags);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !finite_input(fd, st)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

std::string read_input_line() {
  char buf[255];
  ssize_t n = ::read(0, buf, sizeof buf);
  if (n < 0) n = 0;
  std::string line(buf, static_cast<size_t>(n));
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

std::string read_line() {
  std::string line;
  char c = 0;
  while (true) {
    ssize_t n = ::read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    line += c;
  }
  while (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

bool read_file(const std::string& path, std::string& out) {
  int fd = open_input(path, true);
  if (fd < 0) return false;
  out.clear();
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
  char buf[1 << 16];
  bool ok = true;
  while (true) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    // The text ends at its first 0 byte; nothing after it is needed.
    const void* zero = std::memchr(buf, 0, static_cast<size_t>(n));
    if (zero) {
      out.append(buf, static_cast<size_t>(static_cast<const char*>(zero) - buf));
      break;
    }
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return ok;
}

bool can_open(const std::string& path) {
  int fd = open_input(path, false);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void fail_cannot_open() {
  flush_all();
  write_all(2, "runtime error: cannot open file\r\n");
  std::_Exit(1);
}

void out_text(std::string_view text) { out_buffer().add(text); }

void out_line(std::string_view text) {
  out_buffer().add(text);
  out_buffer().add("\r\n");
}

void err_line(std::string_view text) {
  std::string line(text);
  line += "\r\n";
  write_all(2, line);
}

void err_diag(std::string_view message) {
  std::string line = "[err] ";
  line += message;
  line += "\r\n";
  write_all(2, line);
}

void flush_all() { out_buffer().flush(); }

}  // namespace kv
