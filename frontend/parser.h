// The recursive-descent parser that writes IR lines as it recognises constructs. There is
// no syntax tree: expressions, statements and declarations emit their lines in source
// order. Shared by expr.cpp, stmt.cpp and decl.cpp.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "grammar.h"
#include "ir.h"
#include "lexer.h"
#include "lowerir.h"
#include "registries.h"

namespace kv::frontend {

using ir::Op;

class Parser {
 public:
  explicit Parser(Sink& sink) : sink_(sink) {}

  void program(std::string_view expanded);  // top level

 private:
  // Expectations on the token under the cursor (ts_): advance past it, or report.
  void expect_sym(std::string_view s);
  void expect_kw(std::string_view k);
  void expect(bool found, std::string_view opening, std::string_view text);
  // Every IR line is written through the opcode table.
  void emit(Op op) { sink_.ir_line(ir::line(op)); }
  void emit(Op op, std::string_view a) { sink_.ir_line(ir::line(op, a)); }
  void emit(Op op, std::string_view a, std::string_view b) { sink_.ir_line(ir::line(op, a, b)); }
  void emit(Op op, std::string_view a, std::string_view b, std::string_view c) {
    sink_.ir_line(ir::line(op, a, b, c));
  }
  void diag(const std::string& message) { sink_.diag(message); }
  static void append_diag_value(std::string& message, std::string_view value);

  // Labels.
  int64_t new_label() { return label_counter_++; }
  static std::string label_name(int64_t n) { return ".L" + std::to_string(n); }
  void emit_label(int64_t n) { sink_.ir_line(label_name(n)); }
  void emit_trypops(int64_t n);

  // Nesting guard (kMaxNesting): blocks, parenthesised and bracketed expressions,
  // argument lists and interpolations count together. True when one more level fits;
  // otherwise reports, skips the token under the cursor (so every caller still makes
  // progress) and returns false.
  bool enter();
  void leave() { --depth_; }

  // Expressions.
  void expr();
  int64_t short_circuit_head(Op jump);
  void short_circuit_tail(int64_t label);
  void or_level();
  void and_level();
  void not_level();
  void binary(size_t min_level);
  void unary();
  void postfix();
  void primary();
  void emit_leaf(Op op);
  void primary_number();
  void primary_text();
  void primary_name();
  void unexpected();
  int64_t argument_list();
  void collection_literal();
  void kvlog_form();
  void lower_interpolation(const std::string& raw);

  // Statements.
  void statement();
  void block();
  void let_statement();
  void loop_statement();
  void loop_tail(const std::string& var);
  void try_statement();
  void when_statement();
  void match_statement();
  void name_statement();

  // Declarations.
  void function();
  void start_block();
  void record();
  void enumeration();

  Sink& sink_;
  TokenCursor ts_;
  int64_t label_counter_ = 0;
  int depth_ = 0;
  int interpolation_depth_ = 0;
  int64_t try_depth_ = 0;
  // loop_stack: break label, continue label, try depth at entry; bottom entry -1.
  std::vector<int64_t> loop_break_{-1};
  std::vector<int64_t> loop_continue_{-1};
  std::vector<int64_t> loop_try_{-1};
  SymbolTable symbols_;
  NameList record_names_;
  EnumRegistry enums_;
};

}  // namespace kv::frontend
