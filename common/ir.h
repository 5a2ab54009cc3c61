// The IR vocabulary (ir_ops.def) as a type: the front end writes lines through it, the
// optimiser and the code generator read them through it. docs/ir.md describes the format.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::ir {

// The operands after the opcode. T is a type word, N and F names, L a label (".L" and a
// number), k and n decimal integers.
enum class Shape : uint8_t {
  None,          // nothing
  Int,           // k, or true / false / none
  Float,         // a number with a dot, copied into the assembly as written
  Text,          // everything after the first blank, blanks included (escapes decoded later)
  Name,          // N
  TypeName,      // T N
  NameType,      // N T
  TypeNameFlag,  // T N flag (1: the source gave a value; 0: a default)
  NameCount,     // N n
  Count,         // n
  Label,         // L
  LabelLine,     // the whole line is the label
  NameLabel,     // N L
  RecordField,   // N F
  LevelCount,    // level n
  Operator,      // one of + - * / % == != < > <= >=
  // extended lines (written by opt)
  OpOperands,       // op A B
  OpOperandsLabel,  // op A B L
  Operands,         // A B
  NameInt,          // N k
  NameLabelInt,     // N L k
};

// Stack effects that depend on the line.
namespace Pops {
inline constexpr int count = -1;   // the count operand
inline constexpr int pairs = -2;   // twice the count operand
inline constexpr int fields = -3;  // the fields of the record named by the operand
inline constexpr int operands = -4;  // one for each operand written "^"
}  // namespace Pops

enum class Op : uint8_t {
#define KV_IR_OP(id, name, shape, pops, pushes, meaning) id,
#include "ir_ops.def"
#undef KV_IR_OP
  Unknown,  // a line whose opcode is not in the table: readers skip it
};

struct OpInfo {
  std::string_view name;
  Shape shape;
  int pops;
  int pushes;
  std::string_view meaning;
};

inline constexpr OpInfo kOps[] = {
#define KV_IR_OP(id, name, shape, pops, pushes, meaning) {name, Shape::shape, pops, pushes, meaning},
#include "ir_ops.def"
#undef KV_IR_OP
};
inline constexpr size_t kOpCount = sizeof kOps / sizeof kOps[0];

inline const OpInfo& info(Op op) { return kOps[static_cast<size_t>(op)]; }
inline std::string_view name(Op op) { return info(op).name; }
// Lines only opt writes; the front end never does.
inline constexpr bool is_extended(Op op) { return op >= Op::XBin && op != Op::Unknown; }

// An operand of an extended line: "^" (taken from the stack), "#k" (a constant), a name.
inline bool from_stack(std::string_view operand) { return operand == "^"; }
inline bool is_constant(std::string_view operand) { return !operand.empty() && operand[0] == '#'; }

// One IR line cut into its fields, once. The opcode is the text up to the first blank; a and
// b are the first two blank-separated operands, rest everything after the first blank.
// "main" and "end" count only as whole lines; "fn" and "param" only with operands; a line
// that begins with ".L" is a label. Views point into the line.
struct Line {
  Op op = Op::Unknown;
  std::string_view text, a, b, rest;
};
Line parse(std::string_view line);

// The operands of a line, each blank-separated word after the opcode (for lines with more
// than two, such as the extended ones).
std::vector<std::string_view> operands(const Line& line);

// Writes a line: the opcode, then each operand after one blank. A Text operand may be empty
// ("STR " is the empty text), so operands are written even when empty.
std::string line(Op op);
std::string line(Op op, std::string_view a);
std::string line(Op op, std::string_view a, std::string_view b);
std::string line(Op op, std::string_view a, std::string_view b, std::string_view c);

}  // namespace kv::ir
