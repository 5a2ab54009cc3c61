// emitasm: reads the path of an IR file on standard input, writes the assembly module
// on standard output. Reports nothing of its own; an unreadable file ends the program
// with the runtime's cannot-open error before anything reaches standard output.
#include <string>

#include "emitasm.h"
#include "stage_io.h"

int main() {
  kv::err_diag("Kavel IR file to compile: ");
  std::string path = kv::read_input_line();
  std::string text;
  if (!kv::read_file(path, text)) kv::fail_cannot_open();
  kv::out_text(kv::emit_module(text));
  kv::flush_all();
  return 0;
}
