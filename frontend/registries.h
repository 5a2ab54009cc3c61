// The front end's name tables. Each keeps its entries in declaration order and a hash
// index beside them, so a look-up costs O(1) on average whatever the program's size, and
// gives the same answer as a scan of the ordered list would: the newest declaration of a
// variable wins, the first position of an enum variant wins.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kv::frontend {

struct StringHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

// Variables and parameters with their declared type texts. Entries are never removed:
// a later declaration of a name shadows an earlier one for the rest of the run.
class SymbolTable {
 public:
  void add(std::string_view name, std::string_view type);
  // The type of the newest entry for `name`, "~" when there is none.
  const std::string& type_of(std::string_view name) const;
  size_t size() const { return names_.size(); }

 private:
  std::vector<std::string> names_;
  std::vector<std::string> types_;
  std::unordered_map<std::string, size_t, StringHash, std::equal_to<>> newest_;
};

// A list of names in order of first appearance with a membership index (record names,
// enum names).
class NameList {
 public:
  // Appends the name unless it is already there; true when it was new.
  bool add(std::string_view name);
  bool contains(std::string_view name) const;
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
  std::unordered_set<std::string, StringHash, std::equal_to<>> index_;
};

// Enum names and the (enum, variant) pairs of every enum declaration of the run.
class EnumRegistry {
 public:
  void declare(std::string_view enum_name);
  void add_variant(std::string_view enum_name, std::string_view variant);
  bool is_enum(std::string_view name) const;
  // 0-based position of the first pair (enum_name, variant) among the pairs of
  // enum_name, over all its declarations; 0 when the variant is not there.
  int64_t ordinal(std::string_view enum_name, std::string_view variant) const;

 private:
  struct Variants {
    int64_t count = 0;
    std::unordered_map<std::string, int64_t, StringHash, std::equal_to<>> first;
  };
  NameList names_;
  std::vector<std::string> pair_enums_;
  std::vector<std::string> pair_variants_;
  std::unordered_map<std::string, Variants, StringHash, std::equal_to<>> variants_;
};

}  // namespace kv::frontend
