// What the code generator knows of a value: its kind picks the template of every operation
// that depends on it (printing, joining, comparing, indexing). One mapping turns the type
// words of the IR into kinds; the few places that read a word differently say so.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kv::gen {

enum class Kind : uint8_t {
  Int,        // an integer, a bool, none, or a value of no known kind
  Float,      // IEEE binary64 bits
  Text,       // the address of a text
  List,       // a list of numbers
  TextList,   // a list taken to hold texts
  Map,        // a map
  MaybeText,  // an element of a list taken to hold texts: a text, or a number in it
  Record,     // a record; its name is kept beside the kind
};

struct Type {
  Kind kind = Kind::Int;
  std::string record;  // the record's name, for Kind::Record

  static Type of(Kind k) { return Type{k, {}}; }
  static Type record_named(std::string_view name) { return Type{Kind::Record, std::string(name)}; }
  bool is(Kind k) const { return kind == k; }
  bool is_list() const { return kind == Kind::List || kind == Kind::TextList; }
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

// The kind a type word names. The type keywords come first ("int" and "bool" are integers);
// then a declared record, so a record named "f" or "s" is a record; then the one-letter words
// "s", "l" and "f" the IR also accepts for text, list and float. Any other word ("any", "var",
// "~", a name that is no record) gives Int.
Type type_of_word(std::string_view word, const Records& records);

// The word read as a parameter's type: a list parameter is taken to hold texts.
Type param_type(std::string_view word, const Records& records);
// The word read as a function's result: only texts, lists (taken to hold texts) and floats
// are told apart from integers.
Type result_type(std::string_view word, const Records& records);
// The kind a "let" gives its variable: int and bool name integers and text a text, whatever
// the value; float keeps an integer's kind, because an integer given to a float is stored as
// its integer bits; any other type keeps the value's kind.
Type declared_type(std::string_view word, const Type& value);

}  // namespace kv::gen
