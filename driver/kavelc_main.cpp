// kavelc: asks for a source file and builds <base>.exe beside it.
#include "pipeline.h"
#include "stage_io.h"

int main() {
  int code = kv::kavelc_main();
  kv::flush_all();
  return code;
}
