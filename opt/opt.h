// opt: the IR-to-IR stage between the front end and the code generator.
#pragma once
#include <string>
#include <string_view>

namespace kv {

// The program in IR text, optimised: constants computed, constant branches decided, jumps
// threaded, unreachable lines and unused labels dropped, and a few patterns joined into the
// extended lines the code generator gives register-based code (docs/ir.md). Every line is
// written with a CR LF end; lines it does not rewrite keep every byte.
std::string optimise_ir(std::string_view ir);

}  // namespace kv
