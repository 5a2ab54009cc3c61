// Internal state of one emitasm run, shared by the module writer, the operation
// templates and the built-in calls.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kv::gen {

// Insertion-ordered set of texts; the index of an entry never changes.
struct Pool {
  std::vector<std::string> items;
  std::unordered_map<std::string, size_t> index;
  // Index of the text, adding it at the end when absent (first entry wins).
  size_t intern(std::string_view text);
  bool contains(std::string_view text) const { return index.count(std::string(text)) != 0; }
};

struct Field {
  std::string type;
  std::string name;
};

struct LoopEntry {
  bool range;          // a RANGE loop; otherwise a loop over a list
  std::string letter;  // letter of the values it yields
};

struct Gen {
  std::vector<std::string_view> lines;
  std::string out;

  Pool strings;
  Pool floats;
  std::unordered_map<std::string, std::string> functions;  // name -> return letter, first wins
  Pool global_names;
  std::unordered_map<std::string, std::string> global_types;  // first wins
  std::unordered_map<std::string, std::vector<Field>> records;
  // record + '\n' + field -> position of the first field of that name
  std::unordered_map<std::string, size_t> field_index;
  std::vector<std::string> record_list, enum_list;
  unsigned long long label_counter = 0;

  // Per routine.
  Pool local_names;
  std::unordered_map<std::string, std::string> local_types;
  std::vector<LoopEntry> loops;
  size_t local_count = 0;
  std::vector<std::string> types;  // the type stack
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
  // "e" marks an element of a list taken to hold texts ("ls"): lists carry no element type,
  // so it may be a number. It is a text everywhere ("s" from pop_type and pop_types) except
  // where "+" chooses its template and where a variable records its type (pop_raw_type).
  std::string pop_type();
  std::string pop_raw_type();
  void push_type(std::string letter) { types.push_back(std::move(letter)); }
  // The n topmost letters, deepest first, removed from the stack.
  std::vector<std::string> pop_types(size_t n);
  // A count operand: decimal digits; anything else counts as 0. Never more than the
  // values the routine has on its type stack (divided by per_item), so IR that pops
  // more than it pushed cannot make the output grow without bound.
  size_t count_operand(std::string_view op, size_t per_item = 1) const;

  std::string var_ref(const std::string& name) const;
  std::string var_type(const std::string& name) const;
  void record_var_type(const std::string& name, const std::string& letter);

  void translate_line(std::string_view line);
  void builtin_or_user_call(const std::string& name, std::string_view argc_op);
};

// Opcode and operands of an IR line.
struct Fields {
  std::string_view op, a, b, rest;
};
Fields fields_of(std::string_view line);

std::string letter_of_param(std::string_view type_word);

}  // namespace kv::gen
