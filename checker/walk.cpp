// The checker proper: tokens, the tables, the declaration pre-pass and the main walk.
//
// Every text the walk handles (token values, type texts, table keys) is interned once
// into a small integer, so a look-up costs one hash of an integer whatever the length of
// the name, and comparing two types is comparing two integers. The tables keep the
// answers of the original linear searches: the newest symbol wins, the first record,
// field and parameter entries win.
#include <array>
#include <cstdint>
#include <deque>
#include <iterator>
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
namespace {

// Texts interned first, so that their ids are fixed.
enum Fixed : int32_t {
  kEmpty, kInt, kFloat, kText, kBool, kList, kMap, kAny, kVar, kFn, kUnknown,
  // keywords the walk looks at
  kLet, kFix, kGive, kStop, kSkip, kKvlog, kLoop, kWhile, kIn, kTo, kStep, kTry, kCatch,
  kSpawn, kYield, kWhen, kOr, kElse, kMatch, kAnd, kNot, kTrue, kFalse, kRec, kEnum, kUse,
  kStart, kPrivate,
  // symbols the walk looks at (the two-operand operators come from kBinaryLevels)
  kLParen, kRParen, kLBracket, kRBracket, kLBrace, kRBrace, kComma, kColon, kDot, kAssign,
  kMinus, kArrow,
  kFixedCount
};

constexpr std::string_view kFixedTexts[kFixedCount] = {
    "", "int", "float", "text", "bool", "list", "map", "any", "var", "fn", "unknown",
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
  size_t size() const { return texts_.size(); }

 private:
  std::unordered_map<std::string_view, int32_t> ids_;
  std::vector<std::string_view> texts_;
  std::deque<std::string> owned_;
};

struct Field {
  int32_t type;
  bool is_private;
};

class Checker {
 public:
  Checker(const Expansion& ex, const DiagnosticSink& sink) : ex_(ex), sink_(sink) {}

  CheckResult run() {
    lex_all();
    enter_builtins();
    declaration_prepass();
    main_walk();
    CheckResult result;
    result.error_count = error_count_;
    result.token_count = ts_.count() - 1;
    if (sink_ && !diag_.empty()) {
      sink_(diag_);
      diag_.clear();
    }
    result.diagnostics = std::move(diag_);
    return result;
  }

 private:
  // ---- token stream -------------------------------------------------------------
  // The tokens are read through the shared cursor; ids_ holds each token's value
  // interned, at the same index (0: the placeholder).
  void lex_all() {
    for (size_t level = 0; level < kBinaryLevels.size(); ++level) {
      const auto& ops = kBinaryLevels[level].operators;
      for (size_t i = 0; i < ops.size(); ++i)
        operator_ids_[level][i] = ops[i].empty() ? -1 : names_.add(ops[i]);
    }
    ts_ = TokenCursor(ex_.text);
    ids_.reserve(ts_.count());
    for (size_t i = 0; i < ts_.count(); ++i) ids_.push_back(names_.add(ts_.token(i).value));
  }

  int32_t id_at(size_t i) const { return i < ts_.count() ? ids_[i] : kEmpty; }
  TokKind peek_kind() const { return ts_.peek_kind(); }
  int32_t peek_value() const { return id_at(ts_.index()); }
  int32_t peek_value_next() const { return id_at(ts_.index() + 1); }
  void advance() { ts_.advance(); }
  bool at_end() const { return ts_.at_end(); }
  bool is_sym(int32_t sym) const { return peek_kind() == TokKind::Sym && peek_value() == sym; }
  bool is_kw(int32_t kw) const { return peek_kind() == TokKind::Kw && peek_value() == kw; }
  // The two-operand operator under the cursor, found by its interned id; none (an empty
  // text) when the token is not one.
  BinaryOperator binary_operator_here() const {
    if (peek_kind() != TokKind::Sym) return {};
    const int32_t v = peek_value();
    for (size_t level = 0; level < operator_ids_.size(); ++level)
      for (size_t i = 0; i < operator_ids_[level].size(); ++i)
        if (operator_ids_[level][i] == v) return {kBinaryLevels[level].operators[i], level};
    return {};
  }
  // result := ["->" type]   a function header's result type, "int" when absent
  int32_t return_type() {
    if (!is_sym(kArrow)) return kInt;
    advance();
    const int32_t result = peek_value();
    advance();
    return result;
  }
  // Position of the token under the cursor; past the end, the end of the text.
  size_t position() const { return ts_.position(); }
  std::string_view text(int32_t id) const { return names_.text(id); }

  void expect_sym(int32_t sym) {
    if (is_sym(sym)) {
      advance();
      return;
    }
    report_error(cat("expected '", text(sym), "'"));
  }
  void expect_kw(int32_t kw) {
    if (is_kw(kw)) {
      advance();
      return;
    }
    report_error(cat("expected keyword '", text(kw), "'"));
  }

  // ---- diagnostics ----------------------------------------------------------------
  template <typename... Parts>
  static std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(parts), ...);
    return out;
  }

  void report_error(std::string_view message) {
    const size_t at = at_end() ? ts_.count() - 1 : ts_.index();
    diag_ += "[err] [type error] ";
    diag_ += source_location(ex_, ts_.token(at).pos);
    diag_ += ": ";
    diag_ += message;
    diag_ += " near ";
    diag_ += text(peek_value());
    diag_ += "\r\n";
    ++error_count_;
    if (sink_ && diag_.size() >= (1u << 16)) {
      sink_(diag_);
      diag_.clear();
    }
  }

  // ---- tables ---------------------------------------------------------------------
  void define_symbol(int32_t name, int32_t type) { symbols_[name] = type; }
  int32_t lookup_symbol(int32_t name) const {
    auto it = symbols_.find(name);
    return it == symbols_.end() ? kUnknown : it->second;
  }
  // The id of name + "(ret)", the key under which a function's result type is kept.
  int32_t ret_key(int32_t name) {
    auto it = ret_keys_.find(name);
    if (it != ret_keys_.end()) return it->second;
    const int32_t key = names_.add_owned(cat(text(name), "(ret)"));
    ret_keys_.emplace(name, key);
    return key;
  }
  // The id of record + "." + field, the key of the field table.
  int32_t field_key(int32_t record, int32_t field) {
    const uint64_t pair = (static_cast<uint64_t>(static_cast<uint32_t>(record)) << 32) |
                          static_cast<uint32_t>(field);
    auto it = field_keys_.find(pair);
    if (it != field_keys_.end()) return it->second;
    const int32_t key = names_.add_owned(cat(text(record), ".", text(field)));
    field_keys_.emplace(pair, key);
    return key;
  }
  size_t param_count(int32_t fn) const {
    auto it = params_.find(fn);
    return it == params_.end() ? 0 : it->second.size();
  }
  int32_t param_type(int32_t fn, size_t k) const {
    auto it = params_.find(fn);
    if (it == params_.end() || k >= it->second.size()) return kAny;
    return it->second[k];
  }
  bool is_record(int32_t name) const { return records_.count(name) != 0; }
  bool is_enum(int32_t name) const { return enums_.count(name) != 0; }
  // The declaring file of a record as a text; empty when there is no such record.
  std::string_view record_file(int32_t name) const {
    auto it = records_.find(name);
    return it == records_.end() ? std::string_view() : file_text(it->second);
  }
  const Field* find_field(int32_t record, int32_t field) {
    auto it = fields_.find(field_key(record, field));
    return it == fields_.end() ? nullptr : &it->second;
  }
  // The file a character position came from (-1: the line has no origin).
  int32_t file_of_position(size_t position) const {
    const int64_t line = line_of(ex_, position);
    if (static_cast<size_t>(line) >= ex_.origin_file.size()) return -1;
    return ex_.origin_file[static_cast<size_t>(line)];
  }
  std::string_view file_text(int32_t file) const {
    return file < 0 ? std::string_view() : std::string_view(ex_.files[static_cast<size_t>(file)]);
  }

  // The built-ins of the shared table that the checker's catalogue holds, in its order.
  void enter_builtins() {
    for (const builtins::Builtin& b : builtins::kTable) {
      if (b.result.empty()) continue;
      const int32_t id = names_.add(b.name);
      define_symbol(id, kFn);
      define_symbol(ret_key(id), names_.add(b.result));
    }
  }

  static bool type_compatible(int32_t expected, int32_t actual) {
    if (expected == kAny || expected == kVar || actual == kAny || actual == kVar ||
        expected == actual)
      return true;
    if (expected == kFloat && actual == kInt) return true;
    return (expected == kInt || expected == kBool) && (actual == kInt || actual == kBool);
  }

  // ---- declaration pre-pass -----------------------------------------------------------
  // { member ":" } "]", after an enum's "[": nothing records the members, and the
  // second token of each is not looked at.
  void skip_enum_members() {
    while (!at_end() && !is_sym(kRBracket)) {
      advance();
      advance();
    }
    advance();
  }

  // Collects, wherever these keywords stand in the tokens:
  //   "rec" name "[" { ["private"] type name ":" } "]"
  //   "enum" name "[" { member ":" } "]"
  //   "fn" name "(" [type name {"," type name}] ")" result
  void declaration_prepass() {
    const size_t saved = ts_.index();
    ts_.seek(1);
    while (!at_end()) {
      if (is_kw(kRec)) {
        advance();
        const int32_t name = peek_value();
        const int32_t file = file_of_position(position());
        advance();
        records_.emplace(name, file);
        advance();
        while (!at_end() && !is_sym(kRBracket)) {
          bool is_private = false;
          if (is_kw(kPrivate)) {
            advance();
            is_private = true;
          }
          const int32_t type = peek_value();
          advance();
          const int32_t field = peek_value();
          advance();
          fields_.emplace(field_key(name, field), Field{type, is_private});
          advance();
        }
        advance();
      } else if (is_kw(kEnum)) {
        advance();
        enums_.insert(peek_value());
        advance();
        advance();
        skip_enum_members();
      } else if (is_kw(kFn)) {
        advance();
        const int32_t name = peek_value();
        advance();
        expect_sym(kLParen);
        if (!is_sym(kRParen)) {
          for (;;) {
            const int32_t type = peek_value();
            advance();
            advance();
            params_[name].push_back(type);
            if (!is_sym(kComma)) break;
            advance();
          }
        }
        expect_sym(kRParen);
        const int32_t result = return_type();
        define_symbol(name, kFn);
        define_symbol(ret_key(name), result);
      } else {
        advance();
      }
    }
    ts_.seek(saved);
  }

  // ---- nesting limit --------------------------------------------------------------
  // Blocks, expressions, and each "not" and unary "-" (kMaxNesting levels together)
  // recurse on the native stack. Past the limit the rest of the
  // construct (up to the closing bracket of the enclosing one, or a ":") is skipped.
  // One diagnostic is written per cut: skips at the same depth that follow it are quiet.
  bool enter_nested() {
    if (depth_ < kMaxNesting) {
      ++depth_;
      return true;
    }
    if (!cut_off_) {
      report_error(cat("nesting deeper than ", std::to_string(kMaxNesting), " levels"));
      cut_off_ = true;
    }
    int64_t balance = 0;
    while (!at_end()) {
      if (peek_kind() == TokKind::Sym) {
        const int32_t v = peek_value();
        if (v == kLParen || v == kLBracket || v == kLBrace) {
          ++balance;
        } else if (v == kRParen || v == kRBracket || v == kRBrace) {
          if (balance == 0) break;
          --balance;
        } else if (v == kColon && balance == 0) {
          break;
        }
      }
      advance();
    }
    return false;
  }
  void leave_nested() {
    --depth_;
    cut_off_ = false;
  }

  // A statement always consumes a token, except when it is cut off at the nesting limit
  // in front of a closing bracket; the loops over statements then step over that token.
  void check_statement_advancing() {
    const size_t before = ts_.index();
    check_statement();
    if (ts_.index() == before) advance();
  }

  // ---- main walk ------------------------------------------------------------------
  // program := { function | record | "use" token token | enum | "start" block | statement }
  // Records and enums are only stepped over: the pre-pass has read them.
  void main_walk() {
    ts_.seek(1);
    while (!at_end()) {
      if (is_kw(kFn)) {
        check_function();
      } else if (is_kw(kRec)) {
        advance();
        advance();
        advance();
        while (!at_end() && !is_sym(kRBracket)) {
          if (is_kw(kPrivate)) advance();
          advance();
          advance();
          advance();
        }
        advance();
      } else if (is_kw(kUse)) {
        advance();
        advance();
        advance();
      } else if (is_kw(kEnum)) {
        advance();
        advance();
        advance();
        skip_enum_members();
      } else if (is_kw(kStart)) {
        advance();
        const int32_t saved = current_return_type_;
        current_return_type_ = kInt;
        check_block();
        current_return_type_ = saved;
      } else {
        check_statement_advancing();
      }
    }
  }

  // function := "fn" name "(" [type name {"," type name}] ")" result block
  void check_function() {
    expect_kw(kFn);
    advance();  // the name; its signature came from the pre-pass
    expect_sym(kLParen);
    if (!is_sym(kRParen)) {
      for (;;) {
        const int32_t type = peek_value();
        advance();
        const int32_t name = peek_value();
        advance();
        define_symbol(name, type);
        if (!is_sym(kComma)) break;
        advance();
      }
    }
    expect_sym(kRParen);
    const int32_t result = return_type();
    const int32_t saved = current_return_type_;
    current_return_type_ = result;
    check_block();
    current_return_type_ = saved;
  }

  // block := "[" { statement } "]"
  void check_block() {
    if (!enter_nested()) return;
    expect_sym(kLBracket);
    while (!at_end() && !is_sym(kRBracket)) check_statement_advancing();
    expect_sym(kRBracket);
    leave_nested();
  }

  // statement := let | "fix" name "=" expr ":" | "give" expr ":"
  //            | ("stop" | "skip" | "yield") ":" | "kvlog" ["." level] "(" arguments ":"
  //            | loop | "try" block "catch" block | spawn | when | match
  //            | name "=" expr ":" | expr ["=" expr] ":"
  // when := "when" expr block {"or" expr block} ["else" block]
  void check_statement() {
    if (peek_kind() == TokKind::Kw) {
      switch (peek_value()) {
        case kLet: return check_let();
        case kFix: {
          advance();
          const int32_t name = peek_value();
          advance();
          expect_sym(kAssign);
          define_symbol(name, check_expression());
          expect_sym(kColon);
          return;
        }
        case kGive: {
          advance();
          const int32_t u = check_expression();
          if (!type_compatible(current_return_type_, u))
            report_error(cat("give: function returns ", text(current_return_type_),
                             " but expression is ", text(u)));
          expect_sym(kColon);
          return;
        }
        case kStop:
        case kSkip:
        case kYield:
          advance();
          expect_sym(kColon);
          return;
        case kKvlog:
          advance();
          if (is_sym(kDot)) {
            advance();
            advance();
          }
          expect_sym(kLParen);
          check_call_arguments(kEmpty);
          expect_sym(kColon);
          return;
        case kLoop: return check_loop();
        case kTry:
          advance();
          check_block();
          expect_kw(kCatch);
          check_block();
          return;
        case kSpawn: return check_spawn();
        case kWhen:
          advance();
          check_expression();
          check_block();
          while (is_kw(kOr)) {
            advance();
            check_expression();
            check_block();
          }
          if (is_kw(kElse)) {
            advance();
            check_block();
          }
          return;
        case kMatch: return check_match();
        default: break;
      }
    }
    if (peek_kind() == TokKind::Id && peek_value_next() == kAssign) {
      const int32_t name = peek_value();
      advance();
      advance();
      const int32_t declared = lookup_symbol(name);
      const int32_t u = check_expression();
      if (declared != kUnknown && !type_compatible(declared, u))
        report_error(cat(text(name), " = ", text(u), " but variable declared as ", text(declared)));
      if (declared == kUnknown) define_symbol(name, u);
      expect_sym(kColon);
      return;
    }
    check_expression();
    if (is_sym(kAssign)) {
      advance();
      check_expression();
    }
    expect_sym(kColon);
  }

  // let := "let" type name ["=" expr] ":"
  void check_let() {
    advance();
    const int32_t type = peek_value();
    advance();
    const int32_t name = peek_value();
    advance();
    define_symbol(name, type);
    if (is_sym(kAssign)) {
      advance();
      const int32_t u = check_expression();
      if (!type_compatible(type, u))
        report_error(cat("let ", text(name), ": declared ", text(type), " but initializer is ",
                         text(u)));
    }
    expect_sym(kColon);
  }

  // loop := "loop" ( "while" expr block
  //                 | name "in" expr ["to" expr ["step" expr]] block
  //                 | expr block )
  void check_loop() {
    advance();
    if (is_kw(kWhile)) {
      advance();
      check_expression();
      check_block();
      return;
    }
    if (peek_kind() == TokKind::Id && peek_value_next() == kIn) {
      const int32_t var = peek_value();
      advance();
      advance();
      define_symbol(var, kInt);
      const int32_t source = check_expression();
      if (is_kw(kTo)) {
        advance();
        check_expression();
        if (is_kw(kStep)) {
          advance();
          check_expression();
        }
      }
      if (source == kList || source == kMap || source == kAny) define_symbol(var, kAny);
      check_block();
      return;
    }
    check_expression();
    check_block();
  }

  // spawn := "spawn" name "(" ")" ":"
  void check_spawn() {
    advance();
    const int32_t name = peek_value();
    advance();
    expect_sym(kLParen);
    expect_sym(kRParen);
    if (lookup_symbol(name) != kFn)
      report_error(cat("spawn: '", text(name), "' is not a declared function"));
    if (param_count(name) != 0)
      report_error(cat("spawn: ", text(name), "() must take zero arguments"));
    expect_sym(kColon);
  }

  // match := "match" token "[" { primary block } ["else" block] "]"
  void check_match() {
    advance();
    advance();  // the subject, a single token
    expect_sym(kLBracket);
    while (!is_kw(kElse) && !is_sym(kRBracket) && !at_end()) {
      check_primary();
      check_block();
    }
    if (is_kw(kElse)) {
      advance();
      check_block();
    }
    expect_sym(kRBracket);
  }

  // ---- expressions ----------------------------------------------------------------
  // expr := or
  int32_t check_expression() {
    if (!enter_nested()) return kAny;
    const int32_t type = check_or();
    leave_nested();
    return type;
  }

  // or := and { "or" and }   (an "or" right before "[" ends the expression)
  int32_t check_or() {
    int32_t type = check_and();
    while (is_kw(kOr) && peek_value_next() != kLBracket) {
      advance();
      check_and();
      type = kBool;
    }
    return type;
  }

  // and := not { "and" not }
  int32_t check_and() {
    int32_t type = check_not();
    while (is_kw(kAnd)) {
      advance();
      check_not();
      type = kBool;
    }
    return type;
  }

  // not := "not" not | binary(0)
  int32_t check_not() {
    if (is_kw(kNot)) {
      advance();
      if (enter_nested()) {
        check_not();
        leave_nested();
      }
      return kBool;
    }
    return check_binary(0);
  }

  // binary(k) := unary { op binary(level of op + 1) }, op being any operator of
  // kBinaryLevels at level k or tighter
  int32_t check_binary(size_t min_level) {
    int32_t type = check_unary();
    for (;;) {
      const BinaryOperator op = binary_operator_here();
      if (op.text.empty() || op.level < min_level) return type;
      advance();
      const int32_t right = check_binary(op.level + 1);
      type = binary_type(kBinaryLevels[op.level].level, op.text, type, right);
    }
  }

  // The type of `left op right`. Operand types are never compared with each other.
  static int32_t binary_type(BinaryLevel level, std::string_view op, int32_t left,
                             int32_t right) {
    switch (level) {
      case BinaryLevel::Comparison:
        return kBool;
      case BinaryLevel::Additive:
        if (op == "+" && (left == kText || right == kText)) return kText;
        break;
      case BinaryLevel::Multiplicative:
        break;
    }
    return (left == kFloat || right == kFloat) ? kFloat : kInt;
  }

  // unary := "-" unary | postfix
  int32_t check_unary() {
    if (is_sym(kMinus)) {
      advance();
      if (!enter_nested()) return kAny;
      const int32_t type = check_unary();
      leave_nested();
      return type;
    }
    return check_postfix();
  }

  // postfix := primary { "{" expr "}" | "." name }
  int32_t check_postfix() {
    int32_t type = check_primary();
    for (;;) {
      if (is_sym(kLBrace)) {
        advance();
        check_expression();
        expect_sym(kRBrace);
        type = kAny;
      } else if (is_sym(kDot)) {
        advance();
        const int32_t field = peek_value();
        const size_t at = position();
        advance();
        const Field* entry = find_field(type, field);
        if (entry != nullptr && entry->is_private) {
          const std::string_view declared_in = record_file(type);
          if (file_text(file_of_position(at)) != declared_in)
            report_error(cat("field '", text(field), "' of ", text(type),
                             " is private (declared in ", declared_in, ")"));
        }
        type = entry != nullptr ? entry->type : kUnknown;
      } else {
        return type;
      }
    }
  }

  // primary := number | text | "true" | "false" | "kvlog" ["." level] "(" arguments
  //          | "(" expr ")" | collection | name_primary
  int32_t check_primary() {
    const TokKind kind = peek_kind();
    const int32_t value = peek_value();
    switch (kind) {
      case TokKind::Num:
        advance();
        return text(value).find('.') != std::string_view::npos ? kFloat : kInt;
      case TokKind::Str:
        advance();
        return kText;
      case TokKind::Kw:
        if (value == kTrue || value == kFalse) {
          advance();
          return kBool;
        }
        if (value == kKvlog) {
          advance();
          if (is_sym(kDot)) {
            advance();
            advance();
          }
          expect_sym(kLParen);
          check_call_arguments(kEmpty);
          return kInt;
        }
        break;
      case TokKind::Sym:
        if (value == kLParen) {
          advance();
          const int32_t type = check_expression();
          expect_sym(kRParen);
          return type;
        }
        if (value == kLBrace) return check_collection();
        break;
      case TokKind::Id:
        return check_name();
      case TokKind::Eof:
        break;
    }
    report_error(cat("unexpected token '", text(value), "' (kind=", kind_name(kind), ")"));
    advance();
    return kAny;
  }

  // collection := "{" [entry {"," entry}] "}"   with entry := expr ["->" expr]
  int32_t check_collection() {
    advance();
    int32_t type = kList;
    if (!is_sym(kRBrace)) {
      for (;;) {
        check_expression();
        if (is_sym(kArrow)) {
          advance();
          check_expression();
          type = kMap;
        }
        if (!is_sym(kComma)) break;
        advance();
      }
    }
    expect_sym(kRBrace);
    return type;
  }

  // name_primary := enum_name ["." member] | record_name "(" arguments
  //               | name "(" arguments | name
  int32_t check_name() {
    const int32_t name = peek_value();
    const int32_t declared = lookup_symbol(name);
    advance();
    if (is_enum(name)) {
      if (is_sym(kDot)) {
        advance();
        advance();
      }
      return name;
    }
    if (is_sym(kLParen) && is_record(name)) {
      advance();
      check_call_arguments(kEmpty);
      return name;
    }
    if (is_sym(kLParen)) {
      int32_t result = lookup_symbol(ret_key(name));
      if (result == kUnknown) result = kAny;
      advance();
      check_call_arguments(name);
      return result;
    }
    if (declared != kUnknown) return declared;
    report_error(cat("undeclared identifier: ", text(name)));
    return kAny;
  }

  // arguments := [expr {"," expr}] ")"   (after the "(")
  void check_call_arguments(int32_t fn) {
    if (!is_sym(kRParen)) {
      size_t k = 0;
      check_call_argument(fn, k, check_expression());
      while (is_sym(kComma)) {
        advance();
        ++k;
        check_call_argument(fn, k, check_expression());
      }
    }
    expect_sym(kRParen);
  }

  void check_call_argument(int32_t fn, size_t k, int32_t actual) {
    if (fn == kEmpty || k >= param_count(fn)) return;
    const int32_t expected = param_type(fn, k);
    if (!type_compatible(expected, actual))
      report_error(cat("call to ", text(fn), "(): argument ", std::to_string(k + 1), " expects ",
                       text(expected), " but got ", text(actual)));
  }

  // ---- state ----------------------------------------------------------------------
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

  Interner names_;
  std::unordered_map<int32_t, int32_t> symbols_;       // newest entry wins
  std::unordered_map<int32_t, int32_t> ret_keys_;      // name -> id of name + "(ret)"
  std::unordered_map<uint64_t, int32_t> field_keys_;   // (record, field) -> key id
  std::unordered_map<int32_t, std::vector<int32_t>> params_;  // in declaration order
  std::unordered_map<int32_t, int32_t> records_;       // first declaration's file
  std::unordered_map<int32_t, Field> fields_;          // first entry per key
  std::unordered_set<int32_t> enums_;
};

}  // namespace

CheckResult check(const Expansion& ex, const DiagnosticSink& sink) {
  Checker checker(ex, sink);
  return checker.run();
}

CheckResult check_source(const std::string& main_path, const std::string& main_text,
                         const UseReader& reader, const DiagnosticSink& sink) {
  const Expansion ex = expand_uses(main_path, main_text, reader);
  return check(ex, sink);
}

}  // namespace kv::vetter
