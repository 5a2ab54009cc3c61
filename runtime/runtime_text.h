// The runtime library text (runtime.asm), embedded into emitasm when it is built.
#pragma once
#include <string_view>

namespace kv {

// The file's bytes exactly as they stand in runtime.asm, comments and blank lines included.
std::string_view runtime_asm_text();

}  // namespace kv
