// kavel <file.kv> [args...]: builds the program quietly, runs it, passes its exit code on.
#include "pipeline.h"
#include "platform.h"
#include "stage_io.h"

int main(int argc, char** argv) {
  std::uint32_t code = kv::kavel_main(kv::program_args(argc, argv));
  kv::flush_all();
  return static_cast<int>(code);
}
