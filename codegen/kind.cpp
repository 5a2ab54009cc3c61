#include "kind.h"

#include "layout.h"

namespace kv::gen {

int runtime_kind(Kind k) {
  switch (k) {
    case Kind::Float: return layout::KV_KIND_FLOAT;
    case Kind::Text: return layout::KV_KIND_TEXT;
    case Kind::List: return layout::KV_KIND_LIST;
    case Kind::Map: return layout::KV_KIND_MAP;
    case Kind::Record: return layout::KV_KIND_RECORD;
    default: return layout::KV_KIND_INT;
  }
}

std::optional<Type> kind_of_word(std::string_view w, const Records& records) {
  if (w == "int" || w == "bool") return Type::of(Kind::Int);
  if (w == "float") return Type::of(Kind::Float);
  if (w == "text") return Type::of(Kind::Text);
  if (w == "list") return Type::of(Kind::List);
  if (w == "map") return Type::of(Kind::Map);
  if (w == "any" || w == "var") return Type::of(Kind::Dynamic);
  if (records.contains(w)) return Type::record_named(w);
  if (w == "s") return Type::of(Kind::Text);
  if (w == "l") return Type::of(Kind::List);
  if (w == "f") return Type::of(Kind::Float);
  return std::nullopt;
}

Type type_of_word(std::string_view w, const Records& records) {
  return kind_of_word(w, records).value_or(Type::of(Kind::Int));
}

}  // namespace kv::gen
