// The runtime library's text, joined from runtime/*.asm at build time (join.cmake) and
// embedded into emitasm. Each piece holds its sections exactly as the group files have
// them, comment and blank lines included; the writer drops those and replaces the layout
// names (layout.def) and the @@text@@ pool placeholders.
#pragma once
#include <string_view>

namespace kv {

struct RuntimeText {
  std::string_view routines;       // the routine block, in the order of routines.txt
  std::string_view header;         // "default rel" up to "section .text": opens the module
  std::string_view kv_start;       // the entry point, right after the header
  std::string_view exit_template;  // one error exit: EXIT is its label, MESSAGE its message
  std::string_view exit_table;     // the error exits in order, "<label> <message>" a line
  std::string_view data;           // "section .data" and the runtime's constants
  std::string_view bss;            // "section .bss" and the runtime's cells
};

const RuntimeText& runtime_text();

}  // namespace kv
