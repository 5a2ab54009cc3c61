// Statement lowering: declarations of locals, assignments, loops with their break and
// continue targets, try/catch with handler counts, when, match, spawn, yield, kvlog.
#include "parser.h"

namespace kv::frontend {

void Parser::block() {
  if (!enter()) return;
  expect_sym("[");
  while (!at_end() && !at_sym("]")) statement();
  expect_sym("]");
  leave();
}

void Parser::statement() {
  if (peek_kind() == TokKind::Kw) {
    const std::string& k = peek_value();
    if (k == "let") {
      let_statement();
      return;
    }
    if (k == "fix") {
      advance();
      const std::string name = peek_value();
      advance();
      expect_sym("=");
      expr();
      emit(Op::Fix, name);
      expect_sym(":");
      return;
    }
    if (k == "give") {
      advance();
      expr();
      emit_trypops(try_depth_);
      emit(Op::Ret);
      expect_sym(":");
      return;
    }
    if (k == "stop" || k == "skip") {
      const bool is_stop = k == "stop";
      advance();
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
      advance();
      const std::string fn = peek_value();
      advance();
      expect_sym("(");
      expect_sym(")");
      emit(Op::Spawn, fn);
      expect_sym(":");
      return;
    }
    if (k == "yield") {
      advance();
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
  if (peek_kind() == TokKind::Id && (next_is_sym(".") || next_is_sym("=") || next_is_sym("{"))) {
    name_statement();
    return;
  }
  expr();
  emit(Op::Pop);
  expect_sym(":");
}

void Parser::let_statement() {
  advance();  // "let"
  const std::string type = peek_value();
  advance();
  const std::string name = peek_value();
  advance();
  symbols_.add(name, type);
  if (at_sym("=")) {
    advance();
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

// N "." F ["=" E] ":", N "=" E ":", N "{" I "}" ["=" E] ":"
void Parser::name_statement() {
  const std::string name = peek_value();
  advance();
  if (at_sym(".")) {
    advance();
    const std::string field = peek_value();
    advance();
    emit(Op::Load, name);
    const std::string& type = symbols_.type_of(name);
    if (at_sym("=")) {
      advance();
      expr();
      emit(Op::FSet, type, field);
    } else {
      emit(Op::FGet, type, field);
      emit(Op::Pop);
    }
  } else if (at_sym("=")) {
    advance();
    expr();
    emit(Op::Store, name);
  } else {
    advance();  // "{"
    emit(Op::Load, name);
    expr();
    expect_sym("}");
    if (at_sym("=")) {
      advance();
      expr();
      emit(Op::SetIdx);
    } else {
      emit(Op::Index);
      emit(Op::Pop);
    }
  }
  expect_sym(":");
}

void Parser::loop_statement() {
  advance();  // "loop"
  if (at_kw("while")) {
    advance();
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
  if (peek_kind() == TokKind::Id && peek_value_next() == "in") {
    const std::string var = peek_value();
    advance();
    advance();
    expr();
    if (at_kw("to")) {
      advance();
      expr();
      if (at_kw("step")) {
        advance();
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

// The head, body and exits shared by the iterating and the counted loop.
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

void Parser::try_statement() {
  advance();  // "try"
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

void Parser::when_statement() {
  advance();  // "when"
  const int64_t end = new_label();
  for (;;) {
    const int64_t next = new_label();
    expr();
    emit(Op::Jf, label_name(next));
    block();
    emit(Op::Jmp, label_name(end));
    emit_label(next);
    if (!at_kw("or")) break;
    advance();
  }
  if (at_kw("else")) {
    advance();
    block();
  }
  emit_label(end);
}

void Parser::match_statement() {
  advance();  // "match"
  const std::string subject = peek_value();
  advance();
  expect_sym("[");
  const int64_t end = new_label();
  while (!at_end() && !at_kw("else") && !at_sym("]")) {
    const int64_t next = new_label();
    emit(Op::Load, subject);
    primary();
    emit(Op::Bin, "==");
    emit(Op::Jf, label_name(next));
    block();
    emit(Op::Jmp, label_name(end));
    emit_label(next);
  }
  if (at_kw("else")) {
    advance();
    block();
  }
  expect_sym("]");
  emit_label(end);
}

}  // namespace kv::frontend
