// The checker's tokens, diagnostics and tables: lexing into interned ids, the built-ins,
// the declaration pre-pass, and the two rounds of the walk.
#include <algorithm>
#include <string>
#include <utility>

#include "checker.h"

namespace kv::vetter {

// The first rows of the built-in table are the type rules' catalogue; the first round
// enters only these, so that it reads every program exactly as it always has.
constexpr size_t kFirstRoundBuiltins = 41;
static_assert(builtins::kTable[kFirstRoundBuiltins - 1].name == "exedir",
              "the first round's catalogue ends with exedir");

CheckResult Checker::run() {
  lex_all();
  enter_builtins(kFirstRoundBuiltins);
  declaration_prepass();
  main_walk();
  if (error_count_ == 0) {
    second_round_ = true;
    symbols_.clear();
    enter_builtins(builtins::kCount);
    for (const auto& [name, type] : function_symbols_) define_symbol(name, type);
    declared_types_.clear();
    depth_ = 0;
    cut_off_ = false;
    current_return_type_ = kInt;
    function_ = -1;
    function_count_ = 0;
    loop_depth_ = 0;
    main_walk();
  }
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

// ---- tokens -------------------------------------------------------------------------

void Checker::lex_all() {
  for (size_t level = 0; level < kBinaryLevels.size(); ++level) {
    const auto& ops = kBinaryLevels[level].operators;
    for (size_t i = 0; i < ops.size(); ++i)
      operator_ids_[level][i] = ops[i].empty() ? -1 : names_.add(ops[i]);
  }
  ts_ = TokenCursor(ex_.text);
  ids_.reserve(ts_.count());
  for (size_t i = 0; i < ts_.count(); ++i) ids_.push_back(names_.add(ts_.token(i).value));
}

// The two-operand operator under the cursor, found by its interned id; none (an empty
// text) when the token is not one.
BinaryOperator Checker::binary_operator_here() const {
  if (peek_kind() != TokKind::Sym) return {};
  const int32_t v = peek_value();
  for (size_t level = 0; level < operator_ids_.size(); ++level)
    for (size_t i = 0; i < operator_ids_[level].size(); ++i)
      if (operator_ids_[level][i] == v) return {kBinaryLevels[level].operators[i], level};
  return {};
}

// result := ["->" type]   a function header's result type, "int" when absent
int32_t Checker::return_type() {
  if (!is_sym(kArrow)) return kInt;
  advance();
  const int32_t result = peek_value();
  advance();
  return result;
}

void Checker::expect_sym(int32_t sym) {
  if (is_sym(sym)) {
    advance();
    return;
  }
  report_error(cat("expected '", text(sym), "'"));
}

void Checker::expect_kw(int32_t kw) {
  if (is_kw(kw)) {
    advance();
    return;
  }
  report_error(cat("expected keyword '", text(kw), "'"));
}

// ---- diagnostics ------------------------------------------------------------------------

// Inside an interpolation the line is the text literal's, and "near" names the token of
// the interpolated code, or the "}" that ends it.
void Checker::report_error(std::string_view message) {
  size_t pos = anchor_pos_;
  if (!in_interpolation()) pos = ts_.token(at_end() ? ts_.count() - 1 : ts_.index()).pos;
  diag_ += "[err] [type error] ";
  diag_ += source_location(ex_, pos);
  diag_ += ": ";
  diag_ += message;
  diag_ += " near ";
  diag_ += in_interpolation() && at_end() ? text(kRBrace) : text(peek_value());
  diag_ += "\r\n";
  ++error_count_;
  if (sink_ && diag_.size() >= (1u << 16)) {
    sink_(diag_);
    diag_.clear();
  }
}

// ---- tables ---------------------------------------------------------------------------

// The id of name + "(ret)", the key under which a function's result type is kept.
int32_t Checker::ret_key(int32_t name) {
  auto it = ret_keys_.find(name);
  if (it != ret_keys_.end()) return it->second;
  const int32_t key = names_.add_owned(cat(text(name), "(ret)"));
  ret_keys_.emplace(name, key);
  return key;
}

// The id of record + "." + field, the key of the field table.
int32_t Checker::field_key(int32_t record, int32_t field) {
  const uint64_t pair = (static_cast<uint64_t>(static_cast<uint32_t>(record)) << 32) |
                        static_cast<uint32_t>(field);
  auto it = field_keys_.find(pair);
  if (it != field_keys_.end()) return it->second;
  const int32_t key = names_.add_owned(cat(text(record), ".", text(field)));
  field_keys_.emplace(pair, key);
  return key;
}

size_t Checker::param_count(int32_t fn) const {
  auto it = params_.find(fn);
  return it == params_.end() ? 0 : it->second.size();
}

int32_t Checker::param_type(int32_t fn, size_t k) const {
  auto it = params_.find(fn);
  if (it == params_.end() || k >= it->second.size()) return kAny;
  return it->second[k];
}

// The declaring file of a record as a text; empty when there is no such record.
std::string_view Checker::record_file(int32_t name) const {
  auto it = records_.find(name);
  return it == records_.end() ? std::string_view() : file_text(it->second.file);
}

const Field* Checker::find_field(int32_t record, int32_t field) {
  auto it = fields_.find(field_key(record, field));
  return it == fields_.end() ? nullptr : &it->second;
}

// The file a character position came from (-1: the line has no origin).
int32_t Checker::file_of_position(size_t position) const {
  const int64_t line = line_of(ex_, position);
  if (static_cast<size_t>(line) >= ex_.origin_file.size()) return -1;
  return ex_.origin_file[static_cast<size_t>(line)];
}

std::string_view Checker::file_text(int32_t file) const {
  return file < 0 ? std::string_view() : std::string_view(ex_.files[static_cast<size_t>(file)]);
}

// The first `rows` built-ins of the shared table, in its order.
void Checker::enter_builtins(size_t rows) {
  for (size_t i = 0; i < rows; ++i) {
    const builtins::Builtin& b = builtins::kTable[i];
    if (b.result.empty()) continue;
    const int32_t id = names_.add(b.name);
    define_symbol(id, kFn);
    define_symbol(ret_key(id), names_.add(b.result));
    if (builtins_.count(id) != 0) continue;
    BuiltinEntry entry{&b, {}};
    for (size_t at = 0; at < b.params.size();) {
      const size_t end = std::min(b.params.find(' ', at), b.params.size());
      if (end > at) entry.params.push_back(names_.add(b.params.substr(at, end - at)));
      at = end + 1;
    }
    builtins_.emplace(id, std::move(entry));
  }
}

bool Checker::type_compatible(int32_t expected, int32_t actual) {
  if (expected == kAny || expected == kVar || actual == kAny || actual == kVar ||
      expected == actual)
    return true;
  if (expected == kFloat && actual == kInt) return true;
  return (expected == kInt || expected == kBool) && (actual == kInt || actual == kBool);
}

// ---- declaration pre-pass ---------------------------------------------------------------

// Collects, wherever these keywords stand in the tokens:
//   "rec" name "[" { ["private"] type name ":" } "]"
//   "enum" name "[" { member ":" } "]"
//   "fn" name "(" [type name {"," type name}] ")" result
// The first declaration of each name is the one that counts.
void Checker::declaration_prepass() {
  const size_t saved = ts_.index();
  ts_.seek(1);
  while (!at_end()) {
    if (is_kw(kRec)) {
      advance();
      const int32_t name = peek_value();
      RecordEntry entry{ts_.index(), position(), file_of_position(position()), {}};
      advance();
      const bool first = records_.emplace(name, std::move(entry)).second;
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
        if (first) records_[name].field_types.push_back(type);
        advance();
      }
      advance();
    } else if (is_kw(kEnum)) {
      advance();
      const int32_t name = peek_value();
      EnumEntry& entry = enums_.try_emplace(name, EnumEntry{ts_.index(), position(), {}}).first->second;
      advance();
      advance();
      while (!at_end() && !is_sym(kRBracket)) {
        entry.members.insert(peek_value());
        advance();
        advance();
      }
      advance();
    } else if (is_kw(kFn)) {
      advance();
      const int32_t name = peek_value();
      FunctionEntry entry{ts_.index(), position(), 0};
      advance();
      expect_sym(kLParen);
      if (!is_sym(kRParen)) {
        for (;;) {
          const int32_t type = peek_value();
          advance();
          advance();
          params_[name].push_back(type);
          ++entry.param_count;
          if (!is_sym(kComma)) break;
          advance();
        }
      }
      expect_sym(kRParen);
      const int32_t result = return_type();
      functions_.emplace(name, entry);
      function_symbols_.emplace_back(name, kFn);
      function_symbols_.emplace_back(ret_key(name), result);
      define_symbol(name, kFn);
      define_symbol(ret_key(name), result);
    } else {
      advance();
    }
  }
  ts_.seek(saved);
}

// ---- entry points -------------------------------------------------------------------------

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
