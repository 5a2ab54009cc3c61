// The optimiser's view of a program: its IR lines, rewritten by passes that each keep what
// the program computes. Every pass works inside a routine's straight lines: a label, a
// framing line or a jump target ends what it may join.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ir.h"

namespace kv::opt {

struct Program {
  std::vector<std::string> lines;  // without line ends

  ir::Line at(size_t i) const { return ir::parse(lines[i]); }
  ir::Op op(size_t i) const { return at(i).op; }
};

// The value of a "CONST" line: an integer, true (1), false (0) or none (the largest
// integer); nothing for anything else or a number that does not fit 64 bits.
std::optional<int64_t> constant(const ir::Line& line);
std::string constant_line(int64_t value);

// Integer arithmetic as the generated code does it (wrapping; the smallest integer divided
// by -1 is itself, remainder 0); nothing for a division by 0.
std::optional<int64_t> fold_binary(std::string_view op, int64_t a, int64_t b);

// The cleaning passes (passes.cpp), each true when it changed something.
bool fold_constants(Program& p);     // constant operands computed, constant branches decided
bool thread_jumps(Program& p);       // a jump to a jump goes to the last one's target
bool drop_dead_code(Program& p);     // lines no path reaches, after a jump or a return
bool drop_unused_labels(Program& p); // labels nothing jumps to

// Extended lines for the code generator's register-based templates (fuse.cpp).
void fuse(Program& p);

}  // namespace kv::opt
