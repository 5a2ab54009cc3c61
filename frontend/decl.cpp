// File level: the top-level loop, functions, the start block, records and enums.
#include <utility>
#include <vector>

#include "parser.h"

namespace kv::frontend {

void Parser::program(std::string_view expanded) {
  ts_.load(expanded);
  while (!at_end()) {
    if (at_kw("fn")) {
      function();
    } else if (at_kw("start")) {
      start_block();
    } else if (at_kw("rec")) {
      record();
    } else if (at_kw("enum")) {
      enumeration();
    } else if (at_kw("use")) {
      // A directive that expansion did not take (a name instead of a quoted path, ...).
      advance();
      advance();
      expect_sym(":");
    } else {
      statement();
    }
  }
}

void Parser::function() {
  expect_kw("fn");
  const std::string name = peek_value();
  advance();
  expect_sym("(");
  std::vector<std::pair<std::string, std::string>> params;
  if (!at_sym(")")) {
    for (;;) {
      std::string type = peek_value();
      advance();
      std::string param = peek_value();
      advance();
      symbols_.add(param, type);
      params.emplace_back(std::move(type), std::move(param));
      if (!at_sym(",")) break;
      advance();
    }
  }
  expect_sym(")");
  std::string result = "int";
  if (at_sym("->")) {
    advance();
    result = peek_value();
    advance();
  }
  emit(Op::Fn, name, result);
  for (const auto& [type, param] : params) emit(Op::Param, type, param);
  try_depth_ = 0;
  block();
  emit(Op::RetN);
  emit(Op::End);
}

void Parser::start_block() {
  advance();  // "start"
  emit(Op::Main);
  try_depth_ = 0;
  block();
  emit(Op::Halt);
  emit(Op::End);
}

void Parser::record() {
  advance();  // "rec"
  const std::string name = peek_value();
  advance();
  record_names_.add(name);
  expect_sym("[");
  std::vector<std::pair<std::string, std::string>> fields;
  while (!at_end() && !at_sym("]")) {
    if (at_kw("private")) advance();
    std::string type = peek_value();
    advance();
    std::string field = peek_value();
    advance();
    expect_sym(":");
    fields.emplace_back(std::move(type), std::move(field));
  }
  expect_sym("]");
  emit(Op::Rec, name, std::to_string(fields.size()));
  for (const auto& [type, field] : fields) emit(Op::RField, type, field);
}

void Parser::enumeration() {
  advance();  // "enum"
  const std::string name = peek_value();
  advance();
  enums_.declare(name);
  expect_sym("[");
  std::vector<std::string> variants;
  while (!at_end() && !at_sym("]")) {
    std::string variant = peek_value();
    advance();
    expect_sym(":");
    enums_.add_variant(name, variant);
    variants.push_back(std::move(variant));
  }
  expect_sym("]");
  emit(Op::Enum, name, std::to_string(variants.size()));
  for (const std::string& v : variants) emit(Op::EVariant, v);
}

}  // namespace kv::frontend
