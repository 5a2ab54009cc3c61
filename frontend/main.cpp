// lowerir: reads the path of a Kavel source on standard input and writes its IR to
// standard output; the prompt and diagnostics go to standard error.
#include <cstdio>
#include <string>

#include "lowerir.h"
#include "stage_io.h"

namespace {

// IR lines go through the shared buffered writer; diagnostics are gathered and written
// in chunks, so a file full of errors costs few system calls.
class StreamSink : public kv::frontend::Sink {
 public:
  ~StreamSink() override { flush_err(); }
  void ir_line(std::string_view line) override { kv::out_line(line); }
  void diag(std::string_view message) override {
    err_.append("[err] ");
    err_.append(message);
    err_.append("\r\n");
    if (err_.size() >= (1u << 16)) flush_err();
  }
  void flush_err() {
    if (err_.empty()) return;
    std::fwrite(err_.data(), 1, err_.size(), stderr);
    std::fflush(stderr);
    err_.clear();
  }

 private:
  std::string err_;
};

}  // namespace

int main() {
  kv::err_diag("Kavel file to compile: ");
  const std::string path = kv::read_input_line();
  StreamSink sink;
  try {
    kv::frontend::run_stage(path, sink, kv::frontend::host_files(path));
  } catch (const kv::CannotOpenFile&) {
    sink.flush_err();
    kv::fail_cannot_open();
  }
  sink.flush_err();
  kv::flush_all();
  return 0;
}
