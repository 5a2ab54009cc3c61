#include "stage_io.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace kv {
namespace {

// Standard output carries the product of a stage and can be large: buffer it.
// Standard error is written through at once so diagnostics interleave as produced.
struct OutBuffer {
  std::string data;
  ~OutBuffer() { flush(); }
  void flush() {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = ::write(1, data.data() + off, data.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
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

void write_fd(int fd, std::string_view s) {
  while (!s.empty()) {
    ssize_t n = ::write(fd, s.data(), s.size());
    if (n <= 0) return;
    s.remove_prefix(static_cast<size_t>(n));
  }
}

#ifdef _WIN32
// Bytes go out unchanged: no LF to CR LF translation on the standard streams.
const bool binary_streams = [] {
  _setmode(0, _O_BINARY);
  _setmode(1, _O_BINARY);
  _setmode(2, _O_BINARY);
  return true;
}();
#endif

}  // namespace

std::string read_input_line() {
  char buf[255];
  ssize_t n = ::read(0, buf, sizeof buf);
  if (n < 0) n = 0;
  std::string line(buf, static_cast<size_t>(n));
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

bool read_file(const std::string& path, std::string& out) {
  // Only regular files: a device such as /dev/zero would be read forever.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool can_open(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fclose(f);
  return true;
}

void fail_cannot_open() {
  flush_all();
  write_fd(2, "runtime error: cannot open file\r\n");
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
  write_fd(2, line);
}

void err_diag(std::string_view message) {
  std::string line = "[err] ";
  line += message;
  line += "\r\n";
  write_fd(2, line);
}

void flush_all() { out_buffer().flush(); }

}  // namespace kv
