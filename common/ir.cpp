#include "ir.h"

#include <unordered_map>

namespace kv::ir {
namespace {

const std::unordered_map<std::string_view, Op>& opcodes() {
  static const std::unordered_map<std::string_view, Op> table = [] {
    std::unordered_map<std::string_view, Op> t;
    for (size_t i = 0; i < kOpCount; ++i) t.emplace(kOps[i].name, static_cast<Op>(i));
    return t;
  }();
  return table;
}

Op opcode_of(std::string_view opcode, bool has_operands) {
  auto it = opcodes().find(opcode);
  if (it == opcodes().end()) return Op::Unknown;
  switch (it->second) {
    case Op::Main:
    case Op::End: return has_operands ? Op::Unknown : it->second;
    case Op::Fn:
    case Op::Param: return has_operands ? it->second : Op::Unknown;
    default: return it->second;
  }
}

}  // namespace

Line parse(std::string_view text) {
  Line l;
  l.text = text;
  if (text.size() >= 2 && text[0] == '.' && text[1] == 'L') {
    l.op = Op::Label;
    return l;
  }
  const size_t sp = text.find(' ');
  if (sp == std::string_view::npos) {
    l.op = opcode_of(text, false);
    return l;
  }
  l.op = opcode_of(text.substr(0, sp), true);
  l.rest = text.substr(sp + 1);
  const size_t sp2 = l.rest.find(' ');
  l.a = l.rest.substr(0, sp2);
  if (sp2 != std::string_view::npos) {
    std::string_view tail = l.rest.substr(sp2 + 1);
    l.b = tail.substr(0, tail.find(' '));
  }
  return l;
}

std::vector<std::string_view> operands(const Line& line) {
  std::vector<std::string_view> words;
  std::string_view rest = line.rest;
  while (!rest.empty()) {
    const size_t blank = rest.find(' ');
    words.push_back(rest.substr(0, blank));
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return words;
}

std::string line(Op op) { return std::string(name(op)); }

std::string line(Op op, std::string_view a) {
  std::string s(name(op));
  s += ' ';
  s += a;
  return s;
}

std::string line(Op op, std::string_view a, std::string_view b) {
  std::string s = line(op, a);
  s += ' ';
  s += b;
  return s;
}

std::string line(Op op, std::string_view a, std::string_view b, std::string_view c) {
  std::string s = line(op, a, b);
  s += ' ';
  s += c;
  return s;
}

}  // namespace kv::ir
