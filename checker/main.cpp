// vetter: asks for a Kavel source path, checks the file and the files it uses, and
// answers with its exit status (1 when any error was reported).
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "stage_io.h"
#include "vetter.h"

namespace {

void write_stderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

int run() {
  kv::out_text("Kavel file to check: ");
  kv::flush_all();
  const std::string path = kv::read_input_line();

  std::string source;
  if (!kv::read_file(path, source)) kv::fail_cannot_open();
  kv::Expansion expansion;
  try {
    expansion = kv::expand_uses(path, std::move(source), kv::used_file_reader(path));
  } catch (const kv::CannotOpenFile&) {
    kv::fail_cannot_open();
  }

  kv::out_line("--- {ntok} tokens, checking ---");
  kv::flush_all();
  const kv::vetter::CheckResult result = kv::vetter::check(expansion, write_stderr);
  kv::out_line("--- check done: " + std::to_string(result.error_count) + " error(s) ---");
  kv::flush_all();
  return result.error_count > 0 ? 1 : 0;
}

// Running out of memory ends the program the way the runtime does.
int main() {
  try {
    return run();
  } catch (const std::bad_alloc&) {
    kv::flush_all();
    write_stderr("runtime error: out of memory\r\n");
    return 1;
  }
}
