// opt: reads the path of an IR file on standard input, writes the IR to standard output.
#include "opt.h"
#include "stage_io.h"

int main() {
  kv::err_diag("Kavel IR file to optimise: ");
  std::string path = kv::read_input_line();
  std::string ir;
  if (!kv::read_file(path, ir)) kv::fail_cannot_open();
  kv::out_text(kv::optimise_ir(ir));
  kv::flush_all();
  return 0;
}
