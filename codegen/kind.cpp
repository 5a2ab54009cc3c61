#include "kind.h"

namespace kv::gen {

Type type_of_word(std::string_view w, const Records& records) {
  if (w == "int" || w == "bool") return Type::of(Kind::Int);
  if (w == "float") return Type::of(Kind::Float);
  if (w == "text") return Type::of(Kind::Text);
  if (w == "list") return Type::of(Kind::List);
  if (w == "map") return Type::of(Kind::Map);
  if (records.contains(w)) return Type::record_named(w);
  if (w == "s") return Type::of(Kind::Text);
  if (w == "l") return Type::of(Kind::List);
  if (w == "f") return Type::of(Kind::Float);
  return Type::of(Kind::Int);
}

Type param_type(std::string_view word, const Records& records) {
  Type t = type_of_word(word, records);
  if (t.is(Kind::List)) t.kind = Kind::TextList;
  return t;
}

Type result_type(std::string_view word, const Records& records) {
  Type t = type_of_word(word, records);
  switch (t.kind) {
    case Kind::Text:
    case Kind::Float: return t;
    case Kind::List: return Type::of(Kind::TextList);
    default: return Type::of(Kind::Int);
  }
}

Type declared_type(std::string_view word, const Type& value) {
  if (word == "int" || word == "bool") return Type::of(Kind::Int);
  if (word == "text") return Type::of(Kind::Text);
  if (word == "float") return value.is(Kind::Int) ? value : Type::of(Kind::Float);
  return value;
}

}  // namespace kv::gen
