// Internal state of one emitasm run, shared by the module writer, the operation
// templates and the built-in calls.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "ir.h"
#include "kind.h"

namespace kv::gen {

// Insertion-ordered set of texts; the index of an entry never changes.
struct Pool {
  std::vector<std::string> items;
  std::unordered_map<std::string, size_t> index;
  // Index of the text, adding it at the end when absent (first entry wins).
  size_t intern(std::string_view text);
  bool contains(std::string_view text) const { return index.count(std::string(text)) != 0; }
};

struct LoopEntry {
  bool range;  // a RANGE loop; otherwise a loop over a list
};

// What a caller must know of a user function: the kinds of its parameters (it hands each
// argument over as that kind) and of its result.
struct Signature {
  Type result;
  std::vector<Type> params;
};

struct Gen {
  std::vector<ir::Line> lines;  // every non-empty IR line, cut into its fields once
  std::string out;

  Pool strings;
  Pool floats;
  std::unordered_map<std::string, Signature> functions;  // first wins
  Pool global_names;
  std::unordered_map<std::string, Type> global_types;  // first wins
  Pool global_kinds;  // globals of a kind known at run time: each has a kind cell kv_k_<name>
  size_t arg_kinds = 0;  // slots of kv_arg_kinds: the most parameters of kind Dynamic a call hands over
  Records records;
  std::vector<std::string> enum_list;
  unsigned long long label_counter = 0;

  // Per routine.
  Pool local_names;
  std::unordered_map<std::string, Type> local_types;
  std::vector<LoopEntry> loops;
  size_t local_count = 0;
  size_t loop_depth = 0;  // D: the deepest loop nesting of the routine
  Type result;            // the routine's result kind
  std::vector<Type> types;  // the type stack
  // The value on top of the stack is in rax, not yet pushed. Only extended lines leave it
  // there; a line that takes the top (RET, STORE, POP, JF, ...) takes it from rax, and any
  // other line first pushes it, so IR without extended lines is translated as always.
  bool top_in_rax = false;
  // Code off the hot path (the general code behind an integer check), written after the
  // routine's last line; its labels are not local ones, since it stands after other labels.
  std::string cold;
  bool coroutine = false;
  // Kind cells, below the locals and loop cells: one for each local of kind Dynamic and one
  // for each type-stack position that has held a Dynamic value, numbered as first used.
  std::unordered_map<std::string, size_t> var_kind_cells;
  std::unordered_map<size_t, size_t> stack_kind_cells;
  size_t kind_cells = 0;

  // Writers: an instruction gets four blanks in front, a label line none.
  void ins(std::string_view s) {
    out.append("    ");
    out.append(s);
    out.append("\r\n");
  }
  void label(std::string_view s) {
    out.append(s);
    out.append("\r\n");
  }

  std::string str_label(std::string_view text) { return "str_" + std::to_string(strings.intern(text)); }
  std::string new_label() { return ".cg" + std::to_string(label_counter++); }

  // Type stack. A pop from an empty stack reads as an integer: emitasm never fails.
  Type pop_type();
  void push_type(Type t) { types.push_back(std::move(t)); }
  void push_type(Kind k) { types.push_back(Type::of(k)); }
  // The n topmost types, deepest first, removed from the stack.
  std::vector<Type> pop_types(size_t n);
  // A count operand: decimal digits; anything else counts as 0. Never more than the
  // values the routine has on its type stack (divided by per_item), so IR that pops
  // more than it pushed cannot make the output grow without bound.
  size_t count_operand(std::string_view op, size_t per_item = 1) const;

  // Position of the top of the type stack (0 is the deepest value), and where the machine
  // stack holds the value at a position.
  size_t top() const { return types.empty() ? 0 : types.size() - 1; }
  std::string stack_ref(size_t pos) const;
  // The kind cell of a type-stack position, or of a variable of kind Dynamic.
  std::string kind_cell(size_t pos);
  std::string var_kind_ref(const std::string& name);
  // The kind of the value at a position as an operand: its cell for a Dynamic value, its
  // runtime code for a value of a known kind.
  std::string kind_operand(size_t pos);
  // Makes the value at a type-stack position one of kind `to`, in place: an integer
  // becomes a float; a Dynamic value becomes the declared kind (kv_dyn_to_int,
  // kv_dyn_to_float, kv_value_to_str); a value of a known kind becomes Dynamic with that
  // kind in its cell; a list, or a known value, becomes text by its text form. Any other
  // pair is left as it is.
  void coerce(size_t pos, const Type& to);

  // ".L7" is written "kv_L7": the prefix and the operand without its first character.
  static std::string label_symbol(std::string_view op) {
    return "kv_" + std::string(op.empty() ? op : op.substr(1));
  }
  // Loop cell `which` (0 to 2) of the innermost loop: distances 8(L+3(d-1)+1..3) below rbp.
  std::string loop_cell(size_t which) const {
    return "[rbp-" + std::to_string(8 * (local_count + 3 * (loops.size() - 1) + which + 1)) + "]";
  }
  // Stores the range loop's value in rax into a variable, made the variable's kind.
  void store_count(const std::string& var);

  std::string var_ref(const std::string& name) const;
  Type var_type(const std::string& name) const;
  bool has_var_type(const std::string& name) const;
  void record_var_type(const std::string& name, const Type& t);

  void translate(const ir::Line& line);
  // Pushes the top if it is still in rax.
  void flush_top() {
    if (!top_in_rax) return;
    ins("push rax");
    top_in_rax = false;
  }
  // rax = the top, popped (from rax when it is still there).
  void pop_top_into_rax() {
    if (top_in_rax)
      top_in_rax = false;
    else
      ins("pop rax");
  }
  // A call; with in_rax, a user function's result is left in rax (Gen::top_in_rax).
  void call(const std::string& name, std::string_view argc_op, bool in_rax = false);
};

// Writes the program body and every function (after the module header, before the runtime).
void write_routines(Gen& g);

// The condition codes of a comparison operator, and of its negation: signed for integers,
// as comisd sets the flags for floats (an unordered pair is below and equal).
const char* int_cc(std::string_view op);
const char* int_not_cc(std::string_view op);
const char* float_cc(std::string_view op);
const char* float_not_cc(std::string_view op);
bool is_comparison(std::string_view op);

// The extended lines opt writes (extended.cpp).
void translate_extended(Gen& g, const ir::Line& line);

}  // namespace kv::gen
