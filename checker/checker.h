// The checker's insides, shared by its source files: the interned texts, the tables and
// the walk over the tokens.
//
// Every text the walk handles (token values, type texts, table keys) is interned once
// into a small integer, so a look-up costs one hash of an integer whatever the length of
// the name, and comparing two types is comparing two integers. The tables keep the
// answers of the original linear searches: the newest symbol wins, the first record,
// field and parameter entries win.
//
// A check runs in two rounds over the same tokens. The first applies the type rules.
// Only a program that passes them gets the second, which walks it again with the same
// rules and adds those that stop a program which would fail to build or run wrong: how
// many arguments a call takes, which fields and functions exist, which variables the
// compiled code can reach, literals the assembler cannot hold, functions that can end
// without a result, and the forms the front end reads differently. A program that the
// first round rejects is thus reported exactly as before; the second round only adds
// lines for programs that pass the first.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "builtins.h"
#include "grammar.h"
#include "lexer.h"
#include "vetter.h"

namespace kv::vetter {

// Texts interned first, so that their ids are fixed.
enum Fixed : int32_t {
  kEmpty, kInt, kFloat, kText, kBool, kList, kMap, kAny, kVar, kFn, kUnknown,
  // the built-in table's words for "an int or a float" and "a text, a list or a map"
  kNum, kSized,
  // keywords the walk looks at
  kLet, kFix, kGive, kStop, kSkip, kKvlog, kLoop, kWhile, kIn, kTo, kStep, kTry, kCatch,
  kSpawn, kYield, kWhen, kOr, kElse, kMatch, kAnd, kNot, kTrue, kFalse, kRec, kEnum, kUse,
  kStart, kPrivate,
  // symbols the walk looks at (the two-operand operators come from kBinaryLevels)
  kLParen, kRParen, kLBracket, kRBracket, kLBrace, kRBrace, kComma, kColon, kDot, kAssign,
  kMinus, kArrow,
  kFixedCount
};

inline constexpr std::string_view kFixedTexts[kFixedCount] = {
    "", "int", "float", "text", "bool", "list", "map", "any", "var", "fn", "unknown",
    "num", "sized",
    "let", "fix", "give", "stop", "skip", "kvlog", "loop", "while", "in", "to", "step", "try",
    "catch", "spawn", "yield", "when", "or", "else", "match", "and", "not", "true", "false",
    "rec", "enum", "use", "start", "private",
    "(", ")", "[", "]", "{", "}", ",", ":", ".", "=", "-", "->"};

class Interner {
 public:
  Interner() {
    for (std::string_view t : kFixedTexts) add(t);
  }
  // `text` must outlive the interner (a token value, a literal or an owned text).
  int32_t add(std::string_view text) {
    auto [it, fresh] = ids_.emplace(text, static_cast<int32_t>(texts_.size()));
    if (fresh) texts_.push_back(text);
    return it->second;
  }
  int32_t add_owned(std::string text) {
    auto it = ids_.find(text);
    if (it != ids_.end()) return it->second;
    owned_.push_back(std::move(text));
    return add(owned_.back());
  }
  std::string_view text(int32_t id) const { return texts_[static_cast<size_t>(id)]; }

 private:
  std::unordered_map<std::string_view, int32_t> ids_;
  std::vector<std::string_view> texts_;
  std::deque<std::string> owned_;
};

struct Field {
  int32_t type;
  bool is_private;
};

// The first declaration of a function, record or enum: the token of its name.
// token orders the declaration among the uses, pos locates it in the text.
struct FunctionEntry {
  size_t token;
  size_t pos;
  size_t param_count;
};
struct RecordEntry {
  size_t token;
  size_t pos;
  int32_t file;
  std::vector<int32_t> field_types;  // in order
};
struct EnumEntry {
  size_t token;
  size_t pos;
  std::unordered_set<int32_t> members;  // of every declaration of the name
};

// A built-in as the checker sees it: its row, and its parameter types interned.
struct BuiltinEntry {
  const builtins::Builtin* row;
  std::vector<int32_t> params;
};

// Who a list of call arguments is for.
enum class Callee { Log, Record, Function };

// What a call's argument list held.
struct Arguments {
  size_t count = 0;
  bool any_float = false;
};

class Checker {
 public:
  Checker(const Expansion& ex, const DiagnosticSink& sink) : ex_(ex), sink_(sink) {}
  CheckResult run();

 private:
  // ---- tokens (declarations.cpp) -----------------------------------------------------
  // The tokens are read through the shared cursor; ids_ holds each token's value
  // interned, at the same index (0: the placeholder).
  void lex_all();
  int32_t id_at(size_t i) const { return i < ts_.count() ? ids_[i] : kEmpty; }
  TokKind peek_kind() const { return ts_.peek_kind(); }
  int32_t peek_value() const { return id_at(ts_.index()); }
  int32_t peek_value_next() const { return id_at(ts_.index() + 1); }
  void advance() { ts_.advance(); }
  bool at_end() const { return ts_.at_end(); }
  bool is_sym(int32_t sym) const { return peek_kind() == TokKind::Sym && peek_value() == sym; }
  bool is_kw(int32_t kw) const { return peek_kind() == TokKind::Kw && peek_value() == kw; }
  BinaryOperator binary_operator_here() const;
  int32_t return_type();
  size_t position() const { return ts_.position(); }
  std::string_view text(int32_t id) const { return names_.text(id); }
  void expect_sym(int32_t sym);
  void expect_kw(int32_t kw);

  // ---- diagnostics (declarations.cpp) --------------------------------------------------
  template <typename... Parts>
  static std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(parts), ...);
    return out;
  }
  void report_error(std::string_view message);
  // A second-round finding, reported like any other.
  void report_fault(std::string_view message) {
    if (second_round_) report_error(message);
  }
  // A report located at another token of the current stream.
  void report_at(size_t token, std::string_view message);
  // The location text of a position of the expanded text, for "first at ..." notes.
  std::string location_of(size_t pos) const { return source_location(ex_, pos); }
  // The token of the main stream the walk is at: inside an interpolation, the text literal.
  size_t here() const { return in_interpolation() ? anchor_ : ts_.index(); }
  bool in_interpolation() const { return anchor_ != kNoAnchor; }

  // ---- tables (declarations.cpp) -------------------------------------------------------
  void define_symbol(int32_t name, int32_t type) { symbols_[name] = type; }
  int32_t lookup_symbol(int32_t name) const {
    auto it = symbols_.find(name);
    return it == symbols_.end() ? kUnknown : it->second;
  }
  int32_t ret_key(int32_t name);
  int32_t field_key(int32_t record, int32_t field);
  size_t param_count(int32_t fn) const;
  int32_t param_type(int32_t fn, size_t k) const;
  bool is_record(int32_t name) const { return records_.count(name) != 0; }
  bool is_enum(int32_t name) const { return enums_.count(name) != 0; }
  std::string_view record_file(int32_t name) const;
  const Field* find_field(int32_t record, int32_t field);
  int32_t file_of_position(size_t position) const;
  std::string_view file_text(int32_t file) const;
  void enter_builtins(size_t rows);
  static bool type_compatible(int32_t expected, int32_t actual);
  void declaration_prepass();

  // ---- nesting limit (walk.cpp) -------------------------------------------------------
  bool enter_nested();
  void leave_nested();

  // ---- main walk (walk.cpp) ------------------------------------------------------------
  // The statement routines answer whether the statement always ends in a give.
  bool check_statement_advancing();
  void main_walk();
  void step_over(int32_t sym);
  void walk_record();
  void walk_enum();
  void walk_use();
  void check_function();
  bool check_block(int32_t gives_for = kEmpty);
  bool check_statement();
  bool check_expression_statement();
  void check_let();
  void check_loop();
  void check_spawn();
  bool check_when();
  bool check_match();
  bool check_try();
  int32_t check_expression();
  int32_t check_or();
  int32_t check_and();
  int32_t check_not();
  int32_t check_binary(size_t min_level);
  static int32_t binary_type(BinaryLevel level, std::string_view op, int32_t left,
                             int32_t right);
  int32_t check_unary();
  int32_t check_postfix();
  int32_t check_primary();
  void check_log();
  int32_t check_collection();
  int32_t check_name();
  int32_t check_call(int32_t name);
  Arguments check_call_arguments(Callee callee, int32_t name);
  void check_call_argument(Callee callee, int32_t name, size_t k, int32_t actual);

  // ---- second-round rules (build_rules.cpp) ---------------------------------------------
  void check_name_at(size_t token);
  void check_type_at(size_t token);
  void check_number(int32_t literal);
  void check_text(int32_t literal);
  void check_interpolations(int32_t literal, size_t at);
  void check_interpolated(std::string_view code);
  bool is_open(int32_t type) const { return type == kAny || type == kVar || type == kUnknown; }
  bool is_integer(int32_t type) const;
  void check_element(size_t brace, int32_t base, int32_t index, bool set);
  void check_loop_source(size_t at, int32_t source);
  void check_count(size_t at, int32_t type);
  void check_field(int32_t variable, int32_t field);
  int32_t declared_type(int32_t name) const;
  void check_enum_member(int32_t name);
  void check_arity(Callee callee, int32_t name, size_t count);
  void check_builtin_argument(int32_t fn, size_t k, int32_t actual);
  void check_record_argument(int32_t record, size_t k, int32_t actual);
  void check_undeclared_function(int32_t name);
  void check_declared_before(std::string_view kind, int32_t name, size_t token, size_t pos);
  void check_declared_once(std::string_view kind, int32_t name, size_t token,
                           size_t first_token, size_t first_pos);
  void report_missing_give(int32_t function);
  const BuiltinEntry* builtin_called(int32_t name) const;
  bool is_function(int32_t name) const { return functions_.count(name) != 0; }
  // Where the compiled program keeps variables (see the state below).
  void declare_variable(int32_t name, size_t point);
  void assign_variable(int32_t name);
  void use_variable(int32_t name, bool read);

  // ---- state ----------------------------------------------------------------------
  static constexpr size_t kNoAnchor = static_cast<size_t>(-1);

  const Expansion& ex_;
  const DiagnosticSink& sink_;
  TokenCursor ts_;              // owns the token texts the interner points into
  std::vector<int32_t> ids_;    // the interned value of every token of ts_
  // The interned id of each operator of kBinaryLevels, at its place in the table (-1 for
  // an unused place).
  std::array<std::array<int32_t, kMaxLevelOperators>, kBinaryLevels.size()> operator_ids_{};
  int depth_ = 0;
  bool cut_off_ = false;
  int32_t current_return_type_ = kInt;
  int64_t error_count_ = 0;
  std::string diag_;
  bool second_round_ = false;

  Interner names_;
  std::unordered_map<int32_t, int32_t> symbols_;       // newest entry wins
  std::unordered_map<int32_t, int32_t> ret_keys_;      // name -> id of name + "(ret)"
  std::unordered_map<uint64_t, int32_t> field_keys_;   // (record, field) -> key id
  std::unordered_map<int32_t, std::vector<int32_t>> params_;  // in declaration order
  std::unordered_map<int32_t, RecordEntry> records_;   // first declaration
  std::unordered_map<int32_t, Field> fields_;          // first entry per key
  std::unordered_map<int32_t, EnumEntry> enums_;       // first declaration
  std::unordered_map<int32_t, FunctionEntry> functions_;  // first declaration
  std::unordered_map<int32_t, BuiltinEntry> builtins_;
  // The pre-pass's function entries of the symbol table, in order, to enter them again
  // for the second round.
  std::vector<std::pair<int32_t, int32_t>> function_symbols_;

  // The walk's position in the program, for the second round's rules.
  int64_t loop_depth_ = 0;
  size_t anchor_ = kNoAnchor;         // inside an interpolation: the text literal's token
  size_t anchor_pos_ = 0;             // ... and its position
  size_t negated_literal_ = 0;        // the token right after a unary "-"
  int32_t primary_variable_ = kEmpty; // the last primary, when it was a bare variable name
  size_t statement_head_ = 0;         // the first token of the expression statement
  size_t head_end_ = 0;               // ... and the token after its first postfix step

  // The type each name was last declared with by a let or a parameter: the compiled
  // program finds a field's offset through it.
  std::unordered_map<int32_t, int32_t> declared_types_;

  // How the compiled program finds variables. A function's parameters, lets, fixes and
  // loop variables are its locals, wherever they stand in it; every other name it uses
  // must be a global: a name declared, assigned or looped over outside any function.
  // The first round fills these; the second checks each use against them.
  int32_t function_ = -1;             // ordinal of the function being walked, -1 outside
  int32_t function_count_ = 0;
  std::unordered_map<uint64_t, size_t> locals_;  // (function, name) -> first declared at
  std::unordered_set<int32_t> globals_;
};

}  // namespace kv::vetter
