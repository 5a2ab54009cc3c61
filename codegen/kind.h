// What the code generator knows of a value: its kind picks the template of every operation
// that depends on it (printing, joining, comparing, indexing). One mapping turns the type
// words of the IR into kinds; the few places that read a word differently say so.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kv::gen {

enum class Kind : uint8_t {
  Int,      // an integer, a bool or none (and a value of a type word nobody declared)
  Float,    // IEEE binary64 bits
  Text,     // the address of a text
  List,     // a list; its elements keep their own kinds
  Map,      // a map; its values keep their own kinds
  Record,   // a record; its name is kept beside the kind
  Dynamic,  // a kind known only at run time (a list element, a map value, a value of type
            // any): the value's kind lives in a kind cell of the frame beside it
};

// The code the runtime uses for a kind (runtime/layout.def: KV_KIND_INT ...).
int runtime_kind(Kind k);

struct Type {
  Kind kind = Kind::Int;
  std::string record;  // the record's name, for Kind::Record

  static Type of(Kind k) { return Type{k, {}}; }
  static Type record_named(std::string_view name) { return Type{Kind::Record, std::string(name)}; }
  bool is(Kind k) const { return kind == k; }
  bool is_static() const { return kind != Kind::Dynamic; }
};

struct Field {
  std::string type;  // the field's type word
  std::string name;
};

// The records of the program, from its REC and RFIELD lines.
struct Records {
  std::unordered_map<std::string, std::vector<Field>> fields;
  // record + '\n' + field -> position of the first field of that name
  std::unordered_map<std::string, size_t> field_index;
  std::vector<std::string> names;  // in REC order

  bool contains(std::string_view name) const { return fields.count(std::string(name)) != 0; }
};

// The kind a type word names: the type keywords ("int" and "bool" are integers, "any" and
// "var" a kind known at run time), then a declared record, so a record named "f" or "s" is
// a record, then the one-letter words "s", "l" and "f" the IR also accepts for text, list
// and float. Nothing for any other word ("~", a name that is no record).
std::optional<Type> kind_of_word(std::string_view word, const Records& records);
// The same, with an integer for a word that names nothing.
Type type_of_word(std::string_view word, const Records& records);

}  // namespace kv::gen
