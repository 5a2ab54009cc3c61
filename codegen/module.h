// The module's frame around the program's own code: the runtime's pieces written at their
// places, and the data and bss sections that end every module.
#pragma once
#include <string_view>

#include "gen.h"

namespace kv::gen {

// Writes runtime text line by line: comment lines (first non-blank ";") and blank lines
// are dropped, trailing blanks cut; a line starting in the first column is written as a
// label line, any other as an instruction. Layout names (layout.def) become their values
// and each @@text@@ the pool label of that text, interned in the order the text uses them.
void write_runtime_text(Gen& g, std::string_view text);

// The header and kv_start, which open every module.
void write_module_head(Gen& g);

// The routine block (the embedded one, or a stand-in for tests), then the error exits.
void write_runtime_block(Gen& g, std::string_view routines);

// The data section (runtime constants, then the string and float pools) and the bss
// section (runtime cells, then the program's globals).
void write_module_tail(Gen& g);

}  // namespace kv::gen
