#include "registries.h"

namespace kv::frontend {

void SymbolTable::add(std::string_view name, std::string_view type) {
  names_.emplace_back(name);
  types_.emplace_back(type);
  auto it = newest_.find(name);
  if (it == newest_.end())
    newest_.emplace(std::string(name), types_.size() - 1);
  else
    it->second = types_.size() - 1;
}

const std::string& SymbolTable::type_of(std::string_view name) const {
  static const std::string none = "~";
  auto it = newest_.find(name);
  return it == newest_.end() ? none : types_[it->second];
}

bool NameList::add(std::string_view name) {
  if (index_.find(name) != index_.end()) return false;
  index_.emplace(name);
  names_.emplace_back(name);
  return true;
}

bool NameList::contains(std::string_view name) const { return index_.find(name) != index_.end(); }

void EnumRegistry::declare(std::string_view enum_name) { names_.add(enum_name); }

void EnumRegistry::add_variant(std::string_view enum_name, std::string_view variant) {
  pair_enums_.emplace_back(enum_name);
  pair_variants_.emplace_back(variant);
  auto it = variants_.find(enum_name);
  if (it == variants_.end()) it = variants_.emplace(std::string(enum_name), Variants{}).first;
  Variants& v = it->second;
  if (v.first.find(variant) == v.first.end()) v.first.emplace(std::string(variant), v.count);
  ++v.count;
}

bool EnumRegistry::is_enum(std::string_view name) const { return names_.contains(name); }

int64_t EnumRegistry::ordinal(std::string_view enum_name, std::string_view variant) const {
  auto it = variants_.find(enum_name);
  if (it == variants_.end()) return 0;
  auto found = it->second.first.find(variant);
  return found == it->second.first.end() ? 0 : found->second;
}

}  // namespace kv::frontend
