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
  Type yields; // kind of the values it yields
};

struct Gen {
  std::vector<ir::Line> lines;  // every non-empty IR line, cut into its fields once
  std::string out;

  Pool strings;
  Pool floats;
  std::unordered_map<std::string, Type> functions;  // name -> result, first wins
  Pool global_names;
  std::unordered_map<std::string, Type> global_types;  // first wins
  Records records;
  std::vector<std::string> enum_list;
  unsigned long long label_counter = 0;

  // Per routine.
  Pool local_names;
  std::unordered_map<std::string, Type> local_types;
  std::vector<LoopEntry> loops;
  size_t local_count = 0;
  std::vector<Type> types;  // the type stack
  bool coroutine = false;

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
  // MaybeText marks an element of a list taken to hold texts: lists carry no element type,
  // so it may be a number. It is a text everywhere (pop_type and pop_types give Text) except
  // where "+" chooses its template and where a variable records its kind (pop_raw_type).
  Type pop_type();
  Type pop_raw_type();
  void push_type(Type t) { types.push_back(std::move(t)); }
  void push_type(Kind k) { types.push_back(Type::of(k)); }
  // The n topmost types, deepest first, removed from the stack.
  std::vector<Type> pop_types(size_t n);
  // A count operand: decimal digits; anything else counts as 0. Never more than the
  // values the routine has on its type stack (divided by per_item), so IR that pops
  // more than it pushed cannot make the output grow without bound.
  size_t count_operand(std::string_view op, size_t per_item = 1) const;

  std::string var_ref(const std::string& name) const;
  Type var_type(const std::string& name) const;
  void record_var_type(const std::string& name, const Type& t);

  void translate(const ir::Line& line);
  void call(const std::string& name, std::string_view argc_op);
};

// Writes the program body and every function (after the module header, before the runtime).
void write_routines(Gen& g);

}  // namespace kv::gen
