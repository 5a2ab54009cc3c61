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
      emit("FIX " + name);
      expect_sym(":");
      return;
    }
    if (k == "give") {
      advance();
      expr();
      emit_trypops(try_depth_);
      emit("RET");
      expect_sym(":");
      return;
    }
    if (k == "stop" || k == "skip") {
      const bool is_stop = k == "stop";
      advance();
      emit_trypops(try_depth_ - loop_try_.back());
      emit("JMP " + label_name(is_stop ? loop_break_.back() : loop_continue_.back()));
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
      emit("SPAWN " + fn);
      expect_sym(":");
      return;
    }
    if (k == "yield") {
      advance();
      emit("YIELD");
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
  emit("POP");
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
    emit("DECL " + type + " " + name + " 1");
  } else {
    if (type == "list")
      emit("LIST 0");
    else if (type == "map")
      emit("MAP 0");
    else if (type == "text")
      emit("STR ");
    else
      emit("CONST 0");
    emit("DECL " + type + " " + name + " 0");
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
    emit("LOAD " + name);
    const std::string& type = symbols_.type_of(name);
    if (at_sym("=")) {
      advance();
      expr();
      emit("FSET " + type + " " + field);
    } else {
      emit("FGET " + type + " " + field);
      emit("POP");
    }
  } else if (at_sym("=")) {
    advance();
    expr();
    emit("STORE " + name);
  } else {
    advance();  // "{"
    emit("LOAD " + name);
    expr();
    expect_sym("}");
    if (at_sym("=")) {
      advance();
      expr();
      emit("SETIDX");
    } else {
      emit("INDEX");
      emit("POP");
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
    emit("JF " + label_name(end));
    loop_break_.push_back(end);
    loop_continue_.push_back(start);
    loop_try_.push_back(try_depth_);
    block();
    loop_break_.pop_back();
    loop_continue_.pop_back();
    loop_try_.pop_back();
    emit("JMP " + label_name(start));
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
        emit("CONST none");
      }
      emit("RANGE");
    } else {
      emit("ITER");
    }
    loop_tail(var);
    return;
  }
  emit("CONST 1");
  expr();
  emit("CONST 1");
  emit("RANGE");
  loop_tail("~");
}

// The head, body and exits shared by the iterating and the counted loop.
void Parser::loop_tail(const std::string& var) {
  const int64_t head = new_label();
  const int64_t exit = new_label();
  const int64_t end = new_label();
  emit_label(head);
  emit("INEXT " + var + " " + label_name(end));
  loop_break_.push_back(exit);
  loop_continue_.push_back(head);
  loop_try_.push_back(try_depth_);
  block();
  loop_break_.pop_back();
  loop_continue_.pop_back();
  loop_try_.pop_back();
  emit("JMP " + label_name(head));
  emit_label(exit);
  emit("IPOP");
  emit_label(end);
}

void Parser::try_statement() {
  advance();  // "try"
  const int64_t handler = new_label();
  const int64_t end = new_label();
  emit("TRYPUSH " + label_name(handler));
  ++try_depth_;
  block();
  --try_depth_;
  emit("TRYPOP");
  emit("JMP " + label_name(end));
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
    emit("JF " + label_name(next));
    block();
    emit("JMP " + label_name(end));
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
    emit("LOAD " + subject);
    primary();
    emit("BIN ==");
    emit("JF " + label_name(next));
    block();
    emit("JMP " + label_name(end));
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
