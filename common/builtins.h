// The built-in functions (builtins.def) as a table for the programs that read only their
// names and signatures: the checker, and the tests.
#pragma once
#include <cstddef>
#include <string_view>

namespace kv::builtins {

struct Builtin {
  std::string_view name;
  int args;                     // -1: any number
  std::string_view result;      // the checker's result type; "num": float or int by the arguments
  std::string_view params;      // the checker's parameter types, blank-separated
};

inline constexpr Builtin kTable[] = {
#define KV_BUILTIN(name, args, result, params, emitter, routine, kind) {#name, args, result, params},
#include "builtins.def"
#undef KV_BUILTIN
};
inline constexpr size_t kCount = sizeof kTable / sizeof kTable[0];

}  // namespace kv::builtins
