// The main walk: the top level, statements and expressions, each routine with its grammar
// rule above it. It reads the tokens in the front end's order, so that the second round
// can tell where the front end would read a program differently.
#include <string>

#include "checker.h"

namespace kv::vetter {

// ---- nesting limit --------------------------------------------------------------------
// Blocks, expressions, and each "not" and unary "-" (kMaxNesting levels together)
// recurse on the native stack. Past the limit the rest of the
// construct (up to the closing bracket of the enclosing one, or a ":") is skipped.
// One diagnostic is written per cut: skips at the same depth that follow it are quiet.
bool Checker::enter_nested() {
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

void Checker::leave_nested() {
  --depth_;
  cut_off_ = false;
}

// A statement always consumes a token, except when it is cut off at the nesting limit
// in front of a closing bracket; the loops over statements then step over that token.
bool Checker::check_statement_advancing() {
  const size_t before = ts_.index();
  const bool gives = check_statement();
  if (ts_.index() == before) advance();
  return gives;
}

// ---- top level --------------------------------------------------------------------------

// Steps over a token of a declaration that the walk does not read, where the front end
// expects the symbol `sym`; the second round reports any other token.
void Checker::step_over(int32_t sym) {
  if (second_round_ && !is_sym(sym)) report_error(cat("expected '", text(sym), "'"));
  advance();
}

// program := { function | record | use | enum | "start" block | statement }
// The compiled program runs the top-level statements before the first start block, then
// that block: the second round reports what would never run.
void Checker::main_walk() {
  ts_.seek(1);
  statement_head_ = 0;
  size_t first_start = 0;
  while (!at_end()) {
    if (is_kw(kFn)) {
      check_function();
    } else if (is_kw(kRec)) {
      walk_record();
    } else if (is_kw(kUse)) {
      walk_use();
    } else if (is_kw(kEnum)) {
      walk_enum();
    } else if (is_kw(kStart)) {
      if (first_start != 0)
        report_fault(cat("a second start block never runs (the first is at ",
                         location_of(ts_.token(first_start).pos), ")"));
      if (first_start == 0) first_start = ts_.index();
      advance();
      const int32_t saved = current_return_type_;
      current_return_type_ = kInt;
      check_block();
      current_return_type_ = saved;
    } else {
      if (first_start != 0) report_fault("a statement after the start block never runs");
      check_statement_advancing();
    }
  }
}

// record := "rec" name "[" { ["private"] type name ":" } "]"
// The pre-pass has read it: the walk steps over it, three tokens a field, and the second
// round looks for the symbols the front end expects.
void Checker::walk_record() {
  advance();
  const int32_t name = peek_value();
  const size_t name_token = ts_.index();
  advance();
  if (second_round_) {
    check_name_at(name_token);
    auto first = records_.find(name);
    if (first != records_.end())
      check_declared_once("record", name, name_token, first->second.token, first->second.pos);
  }
  step_over(kLBracket);
  while (!at_end() && !is_sym(kRBracket)) {
    if (is_kw(kPrivate)) advance();
    if (second_round_) {
      check_type_at(ts_.index());
      check_name_at(ts_.index() + 1);
    }
    advance();
    advance();
    step_over(kColon);
  }
  step_over(kRBracket);
}

// use := "use" token ":"   a directive that expansion did not take, such as one with two
// blanks or a name without quotes
void Checker::walk_use() {
  advance();
  advance();
  step_over(kColon);
}

// enum := "enum" name "[" { member ":" } "]"   stepped over two tokens a member
void Checker::walk_enum() {
  advance();
  if (second_round_) check_name_at(ts_.index());
  advance();
  step_over(kLBracket);
  while (!at_end() && !is_sym(kRBracket)) {
    if (second_round_) check_name_at(ts_.index());
    advance();
    step_over(kColon);
  }
  step_over(kRBracket);
}

// function := "fn" name "(" [type name {"," type name}] ")" result block
void Checker::check_function() {
  expect_kw(kFn);
  const int32_t name = peek_value();
  const size_t name_token = ts_.index();
  advance();  // its signature came from the pre-pass
  if (second_round_) {
    check_name_at(name_token);
    auto first = functions_.find(name);
    if (first != functions_.end())
      check_declared_once("function", name, name_token, first->second.token, first->second.pos);
  }
  function_ = function_count_++;
  expect_sym(kLParen);
  if (!is_sym(kRParen)) {
    for (;;) {
      if (second_round_) {
        check_type_at(ts_.index());
        check_name_at(ts_.index() + 1);
      }
      const int32_t type = peek_value();
      advance();
      const int32_t param = peek_value();
      advance();
      define_symbol(param, type);
      declared_types_[param] = type;
      declare_variable(param, name_token);
      if (!is_sym(kComma)) break;
      advance();
    }
  }
  expect_sym(kRParen);
  const bool has_result = is_sym(kArrow);
  if (second_round_ && has_result) check_type_at(ts_.index() + 1);
  const int32_t result = return_type();
  const int32_t saved = current_return_type_;
  current_return_type_ = result;
  check_block(has_result ? name : kEmpty);
  current_return_type_ = saved;
  function_ = -1;
}

// block := "[" { statement } "]"
// A block gives when its last statement does. For the body of a function with a result
// type (gives_for names it), the second round reports a body that may not.
bool Checker::check_block(int32_t gives_for) {
  if (!enter_nested()) return false;
  expect_sym(kLBracket);
  bool gives = false;
  while (!at_end() && !is_sym(kRBracket)) gives = check_statement_advancing();
  if (gives_for != kEmpty && !gives) report_missing_give(gives_for);
  expect_sym(kRBracket);
  leave_nested();
  return gives;
}

// ---- statements -----------------------------------------------------------------------

// statement := let | "fix" name "=" expr ":" | "give" expr ":"
//            | ("stop" | "skip" | "yield") ":" | "kvlog" ["." level] "(" arguments ":"
//            | loop | try | spawn | when | match
//            | name "=" expr ":" | expr ["=" expr] ":"
// Answers whether the statement always ends in a give: a give, or a when, match or try
// whose every block (an else included) gives.
bool Checker::check_statement() {
  if (peek_kind() == TokKind::Kw) {
    switch (peek_value()) {
      case kLet:
        check_let();
        return false;
      case kFix: {
        advance();
        if (second_round_) check_name_at(ts_.index());
        const int32_t name = peek_value();
        advance();
        expect_sym(kAssign);
        define_symbol(name, check_expression());
        declare_variable(name, here());
        expect_sym(kColon);
        return false;
      }
      case kGive: {
        advance();
        const int32_t u = check_expression();
        if (!type_compatible(current_return_type_, u))
          report_error(cat("give: function returns ", text(current_return_type_),
                           " but expression is ", text(u)));
        expect_sym(kColon);
        return true;
      }
      case kStop:
      case kSkip: {
        const int32_t word = peek_value();
        advance();
        if (loop_depth_ == 0) report_fault(cat(text(word), ": not inside a loop"));
        expect_sym(kColon);
        return false;
      }
      case kYield:
        advance();
        expect_sym(kColon);
        return false;
      case kKvlog:
        check_log();
        expect_sym(kColon);
        return false;
      case kLoop:
        check_loop();
        return false;
      case kTry: return check_try();
      case kSpawn:
        check_spawn();
        return false;
      case kWhen: return check_when();
      case kMatch: return check_match();
      default: break;
    }
  }
  if (peek_kind() == TokKind::Id && peek_value_next() == kAssign) {
    const int32_t name = peek_value();
    advance();
    assign_variable(name);
    advance();
    const int32_t declared = lookup_symbol(name);
    const int32_t u = check_expression();
    if (declared != kUnknown && !type_compatible(declared, u))
      report_error(cat(text(name), " = ", text(u), " but variable declared as ", text(declared)));
    if (declared == kUnknown) define_symbol(name, u);
    expect_sym(kColon);
    return false;
  }
  return check_expression_statement();
}

// expr ["=" expr] ":"
// The front end reads a statement that starts with a name and "." or "{" as one field or
// element of that variable, followed by "=" or ":", and any other as an expression and
// ":"; the second round reports where the two readings part.
bool Checker::check_expression_statement() {
  const bool element_form =
      peek_kind() == TokKind::Id && (peek_value_next() == kDot || peek_value_next() == kLBrace);
  if (second_round_ && element_form && is_enum(peek_value())) {
    const int32_t name = peek_value();
    advance();
    use_variable(name, true);
    ts_.seek(ts_.index() - 1);
  }
  statement_head_ = ts_.index();
  head_end_ = 0;
  check_expression();
  if (second_round_) {
    if (element_form && head_end_ != ts_.index()) {
      report_at(head_end_, "expected ':'");
    } else if (!element_form && is_sym(kAssign)) {
      report_error("expected ':'");
    }
  }
  if (is_sym(kAssign)) {
    advance();
    check_expression();
  }
  expect_sym(kColon);
  return false;
}

// let := "let" type name ["=" expr] ":"
void Checker::check_let() {
  advance();
  if (second_round_) {
    check_type_at(ts_.index());
    check_name_at(ts_.index() + 1);
  }
  const int32_t type = peek_value();
  advance();
  const int32_t name = peek_value();
  advance();
  define_symbol(name, type);
  declared_types_[name] = type;
  if (is_sym(kAssign)) {
    advance();
    const int32_t u = check_expression();
    if (!type_compatible(type, u))
      report_error(cat("let ", text(name), ": declared ", text(type), " but initializer is ",
                       text(u)));
  }
  declare_variable(name, here());
  expect_sym(kColon);
}

// loop := "loop" ( "while" expr block
//                 | name "in" expr ["to" expr ["step" expr]] block
//                 | expr block )
void Checker::check_loop() {
  advance();
  if (is_kw(kWhile)) {
    advance();
    check_expression();
  } else if (peek_kind() == TokKind::Id && peek_value_next() == kIn) {
    const int32_t var = peek_value();
    advance();
    advance();
    define_symbol(var, kInt);
    const size_t source_at = ts_.index();
    const int32_t source = check_expression();
    if (is_kw(kTo)) {
      advance();
      const size_t bound_at = ts_.index();
      const int32_t bound = check_expression();
      if (second_round_) {
        check_count(source_at, source);
        check_count(bound_at, bound);
      }
      if (is_kw(kStep)) {
        advance();
        const size_t step_at = ts_.index();
        const int32_t step = check_expression();
        if (second_round_) check_count(step_at, step);
      }
    } else if (second_round_) {
      check_loop_source(source_at, source);
    }
    if (source == kList || source == kMap || source == kAny) define_symbol(var, kAny);
    declare_variable(var, here());
  } else {
    const size_t count_at = ts_.index();
    const int32_t count = check_expression();
    if (second_round_) check_count(count_at, count);
  }
  ++loop_depth_;
  check_block();
  --loop_depth_;
}

// try := "try" block "catch" block
bool Checker::check_try() {
  advance();
  const bool body = check_block();
  expect_kw(kCatch);
  const bool handler = check_block();
  return body && handler;
}

// spawn := "spawn" name "(" ")" ":"
void Checker::check_spawn() {
  advance();
  const int32_t name = peek_value();
  advance();
  expect_sym(kLParen);
  expect_sym(kRParen);
  if (lookup_symbol(name) != kFn)
    report_error(cat("spawn: '", text(name), "' is not a declared function"));
  else if (!is_function(name))
    report_fault(cat("spawn: '", text(name), "' is a built-in, not a function of the program"));
  if (param_count(name) != 0)
    report_error(cat("spawn: ", text(name), "() must take zero arguments"));
  expect_sym(kColon);
}

// when := "when" expr block {"or" expr block} ["else" block]
bool Checker::check_when() {
  advance();
  check_expression();
  bool gives = check_block();
  while (is_kw(kOr)) {
    advance();
    check_expression();
    const bool branch = check_block();
    gives = gives && branch;
  }
  if (!is_kw(kElse)) return false;
  advance();
  const bool otherwise = check_block();
  return gives && otherwise;
}

// match := "match" subject "[" { primary block } ["else" block] "]"
// The subject is a single token, which the front end loads as a variable.
bool Checker::check_match() {
  advance();
  const TokKind subject_kind = peek_kind();
  const int32_t subject = peek_value();
  advance();
  if (second_round_) {
    if (subject_kind == TokKind::Id)
      use_variable(subject, true);
    else
      report_error("match: the subject must be a variable name");
  }
  expect_sym(kLBracket);
  bool gives = true;
  while (!is_kw(kElse) && !is_sym(kRBracket) && !at_end()) {
    check_primary();
    const bool branch = check_block();
    gives = gives && branch;
  }
  bool has_else = false;
  if (is_kw(kElse)) {
    advance();
    const bool otherwise = check_block();
    gives = gives && otherwise;
    has_else = true;
  }
  expect_sym(kRBracket);
  return has_else && gives;
}

// ---- expressions ----------------------------------------------------------------------

// expr := or
int32_t Checker::check_expression() {
  if (!enter_nested()) return kAny;
  const int32_t type = check_or();
  leave_nested();
  return type;
}

// or := and { "or" and }   (an "or" right before "[" ends the expression)
int32_t Checker::check_or() {
  int32_t type = check_and();
  while (is_kw(kOr) && peek_value_next() != kLBracket) {
    advance();
    check_and();
    type = kBool;
  }
  return type;
}

// and := not { "and" not }
int32_t Checker::check_and() {
  int32_t type = check_not();
  while (is_kw(kAnd)) {
    advance();
    check_not();
    type = kBool;
  }
  return type;
}

// not := "not" not | binary(0)
int32_t Checker::check_not() {
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
int32_t Checker::check_binary(size_t min_level) {
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
int32_t Checker::binary_type(BinaryLevel level, std::string_view op, int32_t left,
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
int32_t Checker::check_unary() {
  if (is_sym(kMinus)) {
    advance();
    negated_literal_ = ts_.index();
    if (!enter_nested()) return kAny;
    const int32_t type = check_unary();
    leave_nested();
    return type;
  }
  return check_postfix();
}

// postfix := primary { "{" expr "}" | "." name }
// The front end reads a field only right after a variable's name.
int32_t Checker::check_postfix() {
  const size_t begin = ts_.index();
  const bool named = peek_kind() == TokKind::Id;
  int32_t type = check_primary();
  const int32_t variable = named ? primary_variable_ : kEmpty;
  bool first = true;
  for (;;) {
    if (is_sym(kLBrace)) {
      const size_t brace = ts_.index();
      advance();
      const int32_t index = check_expression();
      // The first element of a statement's target is set when "=" follows its "}".
      const bool set = first && begin == statement_head_ && is_sym(kRBrace) &&
                       peek_value_next() == kAssign;
      if (second_round_) check_element(brace, type, index, set);
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
      if (second_round_) check_field(first ? variable : kEmpty, field);
      type = entry != nullptr ? entry->type : kUnknown;
    } else {
      return type;
    }
    if (first && begin == statement_head_) head_end_ = ts_.index();
    first = false;
  }
}

// primary := number | text | "true" | "false" | "kvlog" ["." level] "(" arguments
//          | "(" expr ")" | collection | name_primary
int32_t Checker::check_primary() {
  const TokKind kind = peek_kind();
  const int32_t value = peek_value();
  switch (kind) {
    case TokKind::Num:
      if (second_round_) check_number(value);
      advance();
      return text(value).find('.') != std::string_view::npos ? kFloat : kInt;
    case TokKind::Str: {
      const size_t at = ts_.index();
      if (second_round_) check_text(value);
      advance();
      if (second_round_) check_interpolations(value, at);
      return kText;
    }
    case TokKind::Kw:
      if (value == kTrue || value == kFalse) {
        advance();
        return kBool;
      }
      if (value == kKvlog) {
        check_log();
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

// log := "kvlog" ["." level] "(" arguments   the level is one word of the IR line
void Checker::check_log() {
  advance();
  if (is_sym(kDot)) {
    advance();
    if (second_round_ && (peek_kind() == TokKind::Str || peek_kind() == TokKind::Sym ||
                          peek_kind() == TokKind::Eof))
      report_error("expected a name");
    advance();
  }
  expect_sym(kLParen);
  check_call_arguments(Callee::Log, kEmpty);
}

// collection := "{" [entry {"," entry}] "}"   with entry := expr ["->" expr]
// The front end takes the first entry's form for all of them.
int32_t Checker::check_collection() {
  advance();
  int32_t type = kList;
  if (!is_sym(kRBrace)) {
    bool first_is_pair = false;
    for (bool first = true;; first = false) {
      const size_t entry = ts_.index();
      check_expression();
      bool is_pair = false;
      if (is_sym(kArrow)) {
        advance();
        check_expression();
        type = kMap;
        is_pair = true;
      }
      if (first) first_is_pair = is_pair;
      if (second_round_ && is_pair != first_is_pair)
        report_at(entry, "a collection mixes elements and key -> value pairs");
      if (!is_sym(kComma)) break;
      advance();
    }
  }
  expect_sym(kRBrace);
  return type;
}

// name_primary := enum_name ["." member] | record_name "(" arguments
//               | name "(" arguments | name
// The front end knows an enum or a record only from its declaration on.
int32_t Checker::check_name() {
  const int32_t name = peek_value();
  const int32_t declared = lookup_symbol(name);
  advance();
  primary_variable_ = kEmpty;
  if (is_enum(name)) {
    if (second_round_) {
      const EnumEntry& e = enums_.at(name);
      check_declared_before("enum", name, e.token, e.pos);
    }
    if (is_sym(kDot)) {
      advance();
      if (second_round_) check_enum_member(name);
      advance();
    } else if (second_round_) {
      report_error("expected '.'");
    }
    return name;
  }
  if (is_sym(kLParen) && is_record(name)) {
    if (second_round_) {
      const RecordEntry& r = records_.at(name);
      check_declared_before("record", name, r.token, r.pos);
    }
    advance();
    check_call_arguments(Callee::Record, name);
    primary_variable_ = kEmpty;
    return name;
  }
  if (is_sym(kLParen)) {
    const int32_t result = check_call(name);
    primary_variable_ = kEmpty;
    return result;
  }
  primary_variable_ = name;
  if (declared != kUnknown) {
    use_variable(name, true);
    return declared;
  }
  report_error(cat("undeclared identifier: ", text(name)));
  return kAny;
}

// name "(" arguments: the program's function of that name, else the built-in. The
// result of abs, min and max is a float when an argument is one.
int32_t Checker::check_call(int32_t name) {
  int32_t result = lookup_symbol(ret_key(name));
  if (result == kUnknown) result = kAny;
  if (second_round_) check_undeclared_function(name);
  advance();
  const Arguments args = check_call_arguments(Callee::Function, name);
  if (result == kNum && builtin_called(name) != nullptr) result = args.any_float ? kFloat : kInt;
  return result;
}

// arguments := [expr {"," expr}] ")"   (after the "(")
Arguments Checker::check_call_arguments(Callee callee, int32_t name) {
  Arguments args;
  if (!is_sym(kRParen)) {
    for (;;) {
      const int32_t u = check_expression();
      check_call_argument(callee, name, args.count, u);
      args.any_float = args.any_float || u == kFloat;
      ++args.count;
      if (!is_sym(kComma)) break;
      advance();
    }
  }
  if (second_round_) check_arity(callee, name, args.count);
  expect_sym(kRParen);
  return args;
}

// The first round compares the arguments of the program's functions with their
// parameters; the second also those of built-ins and record constructors.
void Checker::check_call_argument(Callee callee, int32_t name, size_t k, int32_t actual) {
  if (callee == Callee::Record && second_round_) check_record_argument(name, k, actual);
  if (callee != Callee::Function) return;
  if (second_round_) check_builtin_argument(name, k, actual);
  if (k >= param_count(name)) return;
  const int32_t expected = param_type(name, k);
  if (!type_compatible(expected, actual))
    report_error(cat("call to ", text(name), "(): argument ", std::to_string(k + 1), " expects ",
                     text(expected), " but got ", text(actual)));
}

}  // namespace kv::vetter
