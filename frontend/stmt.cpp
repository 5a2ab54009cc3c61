// Statement lowering: declarations of locals, assignments, loops with their break and
// continue targets, try/catch with handler counts, when, match, spawn, yield, kvlog.
#include "parser.h"

namespace kv::frontend {

// block := "[" { statement } "]"
void Parser::block() {
  if (!enter()) return;
  expect_sym("[");
  while (!ts_.at_end() && !ts_.at_sym("]")) statement();
  expect_sym("]");
  leave();
}

// statement := let | "fix" name "=" expr ":" | "give" expr ":" | ("stop" | "skip") ":"
//            | kvlog ":" | loop | try | "spawn" name "(" ")" ":" | "yield" ":" | when
//            | match | name_statement | expr ":"
void Parser::statement() {
  if (ts_.peek_kind() == TokKind::Kw) {
    const std::string& k = ts_.peek_value();
    if (k == "let") {
      let_statement();
      return;
    }
    if (k == "fix") {
      ts_.advance();
      const std::string name = ts_.peek_value();
      ts_.advance();
      expect_sym("=");
      expr();
      emit(Op::Fix, name);
      expect_sym(":");
      return;
    }
    if (k == "give") {
      ts_.advance();
      expr();
      emit_trypops(try_depth_);
      emit(Op::Ret);
      expect_sym(":");
      return;
    }
    if (k == "stop" || k == "skip") {
      const bool is_stop = k == "stop";
      ts_.advance();
      emit_trypops(try_depth_ - loop_try_.back());
      emit(Op::Jmp, label_name(is_stop ? loop_break_.back() : loop_continue_.back()));
      expect_sym(":");
      return;
    }
    if (k == "kvlog") {
      kvlog_form();
      expect_sym(":");
      return;
    }
    if (k == "loop") {
      loop_statement();
      return;
    }
    if (k == "try") {
      try_statement();
      return;
    }
    if (k == "spawn") {
      ts_.advance();
      const std::string fn = ts_.peek_value();
      ts_.advance();
      expect_sym("(");
      expect_sym(")");
      emit(Op::Spawn, fn);
      expect_sym(":");
      return;
    }
    if (k == "yield") {
      ts_.advance();
      emit(Op::Yield);
      expect_sym(":");
      return;
    }
    if (k == "when") {
      when_statement();
      return;
    }
    if (k == "match") {
      match_statement();
      return;
    }
  }
  if (ts_.peek_kind() == TokKind::Id && (ts_.next_is_sym(".") || ts_.next_is_sym("=") || ts_.next_is_sym("{"))) {
    name_statement();
    return;
  }
  expr();
  emit(Op::Pop);
  expect_sym(":");
}

// let := "let" type name ["=" expr] ":"
void Parser::let_statement() {
  ts_.advance();  // "let"
  const std::string type = ts_.peek_value();
  ts_.advance();
  const std::string name = ts_.peek_value();
  ts_.advance();
  symbols_.add(name, type);
  if (ts_.at_sym("=")) {
    ts_.advance();
    expr();
    emit(Op::Decl, type, name, "1");
  } else {
    if (type == "list")
      emit(Op::List, "0");
    else if (type == "map")
      emit(Op::Map, "0");
    else if (type == "text")
      emit(Op::Str, "");
    else
      emit(Op::Const, "0");
    emit(Op::Decl, type, name, "0");
  }
  expect_sym(":");
}

// name_statement := name ( "." name ["=" expr] | "=" expr | "{" expr "}" ["=" expr] ) ":"
void Parser::name_statement() {
  const std::string name = ts_.peek_value();
  ts_.advance();
  if (ts_.at_sym(".")) {
    ts_.advance();
    const std::string field = ts_.peek_value();
    ts_.advance();
    emit(Op::Load, name);
    const std::string& type = symbols_.type_of(name);
    if (ts_.at_sym("=")) {
      ts_.advance();
      expr();
      emit(Op::FSet, type, field);
    } else {
      emit(Op::FGet, type, field);
      emit(Op::Pop);
    }
  } else if (ts_.at_sym("=")) {
    ts_.advance();
    expr();
    emit(Op::Store, name);
  } else {
    ts_.advance();  // "{"
    emit(Op::Load, name);
    expr();
    expect_sym("}");
    if (ts_.at_sym("=")) {
      ts_.advance();
      expr();
      emit(Op::SetIdx);
    } else {
      emit(Op::Index);
      emit(Op::Pop);
    }
  }
  expect_sym(":");
}

// loop := "loop" ( "while" expr block
//                 | name "in" expr ["to" expr ["step" expr]] block
//                 | expr block )
void Parser::loop_statement() {
  ts_.advance();  // "loop"
  if (ts_.at_kw("while")) {
    ts_.advance();
    const int64_t start = new_label();
    const int64_t end = new_label();
    emit_label(start);
    expr();
    emit(Op::Jf, label_name(end));
    loop_break_.push_back(end);
    loop_continue_.push_back(start);
    loop_try_.push_back(try_depth_);
    block();
    loop_break_.pop_back();
    loop_continue_.pop_back();
    loop_try_.pop_back();
    emit(Op::Jmp, label_name(start));
    emit_label(end);
    return;
  }
  if (ts_.peek_kind() == TokKind::Id && ts_.peek_value_next() == "in") {
    const std::string var = ts_.peek_value();
    ts_.advance();
    ts_.advance();
    expr();
    if (ts_.at_kw("to")) {
      ts_.advance();
      expr();
      if (ts_.at_kw("step")) {
        ts_.advance();
        expr();
      } else {
        emit(Op::Const, "none");
      }
      emit(Op::Range);
    } else {
      emit(Op::Iter);
    }
    loop_tail(var);
    return;
  }
  emit(Op::Const, "1");
  expr();
  emit(Op::Const, "1");
  emit(Op::Range);
  loop_tail("~");
}

// loop_tail := block, with the head, the exits and the end that the iterating and the
// counted loop share around it.
void Parser::loop_tail(const std::string& var) {
  const int64_t head = new_label();
  const int64_t exit = new_label();
  const int64_t end = new_label();
  emit_label(head);
  emit(Op::INext, var, label_name(end));
  loop_break_.push_back(exit);
  loop_continue_.push_back(head);
  loop_try_.push_back(try_depth_);
  block();
  loop_break_.pop_back();
  loop_continue_.pop_back();
  loop_try_.pop_back();
  emit(Op::Jmp, label_name(head));
  emit_label(exit);
  emit(Op::IPop);
  emit_label(end);
}

// try := "try" block "catch" block
void Parser::try_statement() {
  ts_.advance();  // "try"
  const int64_t handler = new_label();
  const int64_t end = new_label();
  emit(Op::TryPush, label_name(handler));
  ++try_depth_;
  block();
  --try_depth_;
  emit(Op::TryPop);
  emit(Op::Jmp, label_name(end));
  emit_label(handler);
  expect_kw("catch");
  block();
  emit_label(end);
}

// when := "when" expr block {"or" expr block} ["else" block]
void Parser::when_statement() {
  ts_.advance();  // "when"
  const int64_t end = new_label();
  for (;;) {
    const int64_t next = new_label();
    expr();
    emit(Op::Jf, label_name(next));
    block();
    emit(Op::Jmp, label_name(end));
    emit_label(next);
    if (!ts_.at_kw("or")) break;
    ts_.advance();
  }
  if (ts_.at_kw("else")) {
    ts_.advance();
    block();
  }
  emit_label(end);
}

// match := "match" name "[" { primary block } ["else" block] "]"
void Parser::match_statement() {
  ts_.advance();  // "match"
  const std::string subject = ts_.peek_value();
  ts_.advance();
  expect_sym("[");
  const int64_t end = new_label();
  while (!ts_.at_end() && !ts_.at_kw("else") && !ts_.at_sym("]")) {
    const int64_t next = new_label();
    emit(Op::Load, subject);
    primary();
    emit(Op::Bin, "==");
    emit(Op::Jf, label_name(next));
    block();
    emit(Op::Jmp, label_name(end));
    emit_label(next);
  }
  if (ts_.at_kw("else")) {
    ts_.advance();
    block();
  }
  expect_sym("]");
  emit_label(end);
}

}  // namespace kv::frontend
