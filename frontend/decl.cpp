// File level: the top-level loop, functions, the start block, records and enums.
#include <utility>
#include <vector>

#include "parser.h"

namespace kv::frontend {

// program := { function | start | record | enum | "use" token ":" | statement }
void Parser::program(std::string_view expanded) {
  ts_ = TokenCursor(expanded);
  while (!ts_.at_end()) {
    if (ts_.at_kw("fn")) {
      function();
    } else if (ts_.at_kw("start")) {
      start_block();
    } else if (ts_.at_kw("rec")) {
      record();
    } else if (ts_.at_kw("enum")) {
      enumeration();
    } else if (ts_.at_kw("use")) {
      // A directive that expansion did not take (a name instead of a quoted path, ...).
      ts_.advance();
      ts_.advance();
      expect_sym(":");
    } else {
      statement();
    }
  }
}

// function := "fn" name "(" [type name {"," type name}] ")" ["->" type] block
void Parser::function() {
  expect_kw("fn");
  const std::string name = ts_.peek_value();
  ts_.advance();
  expect_sym("(");
  std::vector<std::pair<std::string, std::string>> params;
  if (!ts_.at_sym(")")) {
    for (;;) {
      std::string type = ts_.peek_value();
      ts_.advance();
      std::string param = ts_.peek_value();
      ts_.advance();
      symbols_.add(param, type);
      params.emplace_back(std::move(type), std::move(param));
      if (!ts_.at_sym(",")) break;
      ts_.advance();
    }
  }
  expect_sym(")");
  std::string result = "int";
  if (ts_.at_sym("->")) {
    ts_.advance();
    result = ts_.peek_value();
    ts_.advance();
  }
  emit(Op::Fn, name, result);
  for (const auto& [type, param] : params) emit(Op::Param, type, param);
  try_depth_ = 0;
  block();
  emit(Op::RetN);
  emit(Op::End);
}

// start := "start" block
void Parser::start_block() {
  ts_.advance();  // "start"
  emit(Op::Main);
  try_depth_ = 0;
  block();
  emit(Op::Halt);
  emit(Op::End);
}

// record := "rec" name "[" { ["private"] type name ":" } "]"
void Parser::record() {
  ts_.advance();  // "rec"
  const std::string name = ts_.peek_value();
  ts_.advance();
  record_names_.add(name);
  expect_sym("[");
  std::vector<std::pair<std::string, std::string>> fields;
  while (!ts_.at_end() && !ts_.at_sym("]")) {
    if (ts_.at_kw("private")) ts_.advance();
    std::string type = ts_.peek_value();
    ts_.advance();
    std::string field = ts_.peek_value();
    ts_.advance();
    expect_sym(":");
    fields.emplace_back(std::move(type), std::move(field));
  }
  expect_sym("]");
  emit(Op::Rec, name, std::to_string(fields.size()));
  for (const auto& [type, field] : fields) emit(Op::RField, type, field);
}

// enum := "enum" name "[" { name ":" } "]"
void Parser::enumeration() {
  ts_.advance();  // "enum"
  const std::string name = ts_.peek_value();
  ts_.advance();
  enums_.declare(name);
  expect_sym("[");
  std::vector<std::string> variants;
  while (!ts_.at_end() && !ts_.at_sym("]")) {
    std::string variant = ts_.peek_value();
    ts_.advance();
    expect_sym(":");
    enums_.add_variant(name, variant);
    variants.push_back(std::move(variant));
  }
  expect_sym("]");
  emit(Op::Enum, name, std::to_string(variants.size()));
  for (const std::string& v : variants) emit(Op::EVariant, v);
}

}  // namespace kv::frontend
