// emitasm: one IR program in, one NASM module (win64) out.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// Cuts IR text at line feeds, drops one trailing CR of each piece and the empty pieces.
std::vector<std::string_view> split_ir_lines(std::string_view text);

// The operand list of a "str_<k>: db" line for an IR text (escapes decoded, 0 ended).
std::string db_operands(std::string_view ir_text);

// The whole module for an IR program: header, start-up, program body, functions,
// runtime text, data and bss sections. Every line ends with CR LF.
std::string emit_module(std::string_view ir_text);

// Like emit_module, with another routine block in place of the embedded one (tests); the
// header, kv_start, error exits, data and bss pieces stay the embedded runtime's.
std::string emit_module_with_runtime(std::string_view ir_text, std::string_view routines);

}  // namespace kv
