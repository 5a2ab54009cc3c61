// Expression lowering: precedence levels, short-circuit operators, primaries,
// collection literals, record constructors, enum ordinals, field reads, interpolation.
#include <utility>

#include "parser.h"

namespace kv::frontend {

// A token quoted in a diagnostic is cut after kMaxDiagValue bytes: the same long literal
// can be reported once per open nesting level, and a full copy each time would make the
// diagnostics grow with the square of the source.
void Parser::append_diag_value(std::string& message, std::string_view value) {
  if (value.size() <= kMaxDiagValue) {
    message += value;
  } else {
    message += value.substr(0, kMaxDiagValue);
    message += "...";
  }
}

void Parser::expect_sym(std::string_view s) { expect(ts_.at_sym(s), "'", s); }

void Parser::expect_kw(std::string_view k) { expect(ts_.at_kw(k), "kw '", k); }

// Steps over the expected token, or reports it and stays:
// "lowerir: expected " + opening + text + "' at pos " + N + " got " + the token's value.
void Parser::expect(bool found, std::string_view opening, std::string_view text) {
  if (found) {
    ts_.advance();
    return;
  }
  std::string m = "lowerir: expected ";
  m += opening;
  m += text;
  m += "' at pos " + std::to_string(ts_.index()) + " got ";
  append_diag_value(m, ts_.peek_value());
  diag(m);
}

void Parser::emit_trypops(int64_t n) {
  for (int64_t i = 0; i < n; ++i) emit(Op::TryPop);
}

bool Parser::enter() {
  if (depth_ >= kMaxNesting) {
    diag("lowerir: nesting deeper than " + std::to_string(kMaxNesting) + " levels at pos " +
         std::to_string(ts_.index()));
    ts_.advance();
    return false;
  }
  ++depth_;
  return true;
}

// expr := or_level
void Parser::expr() {
  if (!enter()) return;
  or_level();
  leave();
}

int64_t Parser::short_circuit_head(Op jump) {
  const int64_t l = new_label();
  emit(Op::Dup);
  emit(jump, label_name(l));
  emit(Op::Pop);
  return l;
}

void Parser::short_circuit_tail(int64_t label) {
  emit_label(label);
  emit(Op::Bool);
}

// or_level := and_level { "or" and_level }
void Parser::or_level() {
  and_level();
  // "or" directly before a block belongs to the statement around the expression.
  while (ts_.at_kw("or") && !ts_.next_is_sym("[")) {
    ts_.advance();
    const int64_t l = short_circuit_head(Op::Jt);
    and_level();
    short_circuit_tail(l);
  }
}

// and_level := not_level { "and" not_level }
void Parser::and_level() {
  not_level();
  while (ts_.at_kw("and")) {
    ts_.advance();
    const int64_t l = short_circuit_head(Op::Jf);
    not_level();
    short_circuit_tail(l);
  }
}

// not_level := { "not" } binary(0)
void Parser::not_level() {
  int64_t nots = 0;
  while (ts_.at_kw("not")) {
    ts_.advance();
    ++nots;
  }
  binary(0);
  for (int64_t i = 0; i < nots; ++i) emit(Op::Not);
}

// binary(k) := unary { op binary(level of op + 1) }, op being any operator of
// kBinaryLevels at level k or tighter
void Parser::binary(size_t min_level) {
  unary();
  for (;;) {
    if (ts_.peek_kind() != TokKind::Sym) return;
    // The table's text, not the token's: interpolation swaps the token stream while the
    // right operand is parsed.
    const BinaryOperator op = binary_operator(ts_.peek_value());
    if (op.text.empty() || op.level < min_level) return;
    ts_.advance();
    binary(op.level + 1);
    emit(Op::Bin, op.text);
  }
}

// unary := { "-" } postfix
void Parser::unary() {
  int64_t negs = 0;
  while (ts_.at_sym("-")) {
    ts_.advance();
    ++negs;
  }
  postfix();
  for (int64_t i = 0; i < negs; ++i) emit(Op::Neg);
}

// postfix := primary { "{" expr "}" }
void Parser::postfix() {
  primary();
  while (ts_.at_sym("{")) {
    ts_.advance();
    expr();
    expect_sym("}");
    emit(Op::Index);
  }
}

// arguments := [expr {"," expr}] ")"   (after the "(")
int64_t Parser::argument_list() {
  int64_t n = 0;
  if (!ts_.at_sym(")")) {
    expr();
    n = 1;
    while (ts_.at_sym(",")) {
      ts_.advance();
      expr();
      ++n;
    }
  }
  expect_sym(")");
  return n;
}

// collection := "{" [entry {"," entry}] "}"   with entry := expr ["->" expr]
void Parser::collection_literal() {
  ts_.advance();  // "{"
  int64_t count = 0;
  bool is_map = false;
  if (!ts_.at_sym("}")) {
    expr();
    count = 1;
    if (ts_.at_sym("->")) {
      ts_.advance();
      expr();
      is_map = true;
    }
    while (ts_.at_sym(",")) {
      ts_.advance();
      expr();
      ++count;
      if (ts_.at_sym("->")) {
        ts_.advance();
        expr();
      }
    }
  }
  expect_sym("}");
  emit(is_map ? Op::Map : Op::List, std::to_string(count));
}

// kvlog := "kvlog" ["." level] "(" arguments
void Parser::kvlog_form() {
  ts_.advance();  // "kvlog"
  std::string level = "info";
  if (ts_.at_sym(".")) {
    ts_.advance();
    level = ts_.peek_value();
    ts_.advance();
  }
  expect_sym("(");
  const int64_t n = argument_list();
  emit(Op::Log, level, std::to_string(n));
}

// primary := number | text | "true" | "false" | "(" expr ")" | collection | kvlog
//          | name_primary
// Only the nesting forms stay in this frame; every leaf is lowered out of line so deep
// nesting costs as little stack as possible per level.
void Parser::primary() {
  const TokKind kind = ts_.peek_kind();
  if (kind == TokKind::Num) {
    primary_number();
  } else if (kind == TokKind::Str) {
    primary_text();
  } else if (ts_.at_kw("true") || ts_.at_kw("false")) {
    emit_leaf(Op::Const);
  } else if (ts_.at_sym("(")) {
    ts_.advance();
    expr();
    expect_sym(")");
  } else if (ts_.at_sym("{")) {
    collection_literal();
  } else if (ts_.at_kw("kvlog")) {
    kvlog_form();
  } else if (kind == TokKind::Id) {
    primary_name();
  } else {
    unexpected();
  }
}

[[gnu::noinline]] void Parser::emit_leaf(Op op) {
  emit(op, ts_.peek_value());
  ts_.advance();
}

[[gnu::noinline]] void Parser::primary_number() {
  emit_leaf(ts_.peek_value().find('.') != std::string::npos ? Op::ConstF : Op::Const);
}

// text := a string token; "${" expr "}" inside it is lowered in place
[[gnu::noinline]] void Parser::primary_text() {
  std::string raw = ts_.peek_value();
  ts_.advance();
  if (raw.find("${") != std::string::npos)
    lower_interpolation(raw);
  else
    emit(Op::Str, escape_ir_text(raw));
}

// name_primary := enum_name "." variant | name "(" arguments | name "." field | name
[[gnu::noinline]] void Parser::primary_name() {
  const std::string name = ts_.peek_value();
  ts_.advance();
  if (enums_.is_enum(name)) {
    expect_sym(".");
    const std::string variant = ts_.peek_value();
    ts_.advance();
    emit(Op::Const, std::to_string(enums_.ordinal(name, variant)));
  } else if (ts_.at_sym("(")) {
    ts_.advance();
    const int64_t n = argument_list();
    if (record_names_.contains(name))
      emit(Op::New, name);
    else
      emit(Op::Call, name, std::to_string(n));
  } else if (ts_.at_sym(".")) {
    ts_.advance();
    const std::string field = ts_.peek_value();
    ts_.advance();
    emit(Op::Load, name);
    emit(Op::FGet, symbols_.type_of(name), field);
  } else {
    emit(Op::Load, name);
  }
}

[[gnu::noinline]] void Parser::unexpected() {
  std::string m = "lowerir: unexpected '";
  append_diag_value(m, ts_.peek_value());
  m += "' (kind=";
  m += kind_name(ts_.peek_kind());
  m += ") at pos " + std::to_string(ts_.index());
  diag(m);
  ts_.advance();
}

// The pieces of a literal that holds "${": text pieces and "${" expr "}" parts, each
// part lexed into a fresh token stream of its own.
void Parser::lower_interpolation(const std::string& raw) {
  if (interpolation_depth_ >= kMaxInterpolationNesting) {
    diag("lowerir: interpolation nested deeper than " + std::to_string(kMaxInterpolationNesting) +
         " levels at pos " + std::to_string(ts_.index() - 1));
    return;
  }
  ++interpolation_depth_;
  bool first = true;
  size_t pos = 0;
  for (;;) {
    const size_t open = raw.find("${", pos);
    const size_t piece_end = open == std::string::npos ? raw.size() : open;
    if (piece_end > pos) {
      emit(Op::Str, escape_ir_text(std::string_view(raw).substr(pos, piece_end - pos)));
      if (!first) emit(Op::Bin, "+");
      first = false;
    }
    if (open == std::string::npos) break;
    const size_t start = open + 2;
    size_t close = raw.find('}', start);
    if (close == std::string::npos) close = raw.size();
    pos = close < raw.size() ? close + 1 : raw.size();

    TokenCursor saved = std::move(ts_);
    ts_ = TokenCursor(std::string_view(raw).substr(start, close - start));
    expr();
    ts_ = std::move(saved);

    emit(Op::ToStr);
    if (!first) emit(Op::Bin, "+");
    first = false;
  }
  --interpolation_depth_;
}

}  // namespace kv::frontend
