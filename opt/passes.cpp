// The cleaning passes: constants computed where their operands are known, branches on
// constants decided, jumps to jumps threaded, lines no path reaches and labels nothing
// jumps to removed.
#include <limits>
#include <set>
#include <unordered_map>

#include "program.h"

namespace kv::opt {

using ir::Op;

std::optional<int64_t> constant(const ir::Line& l) {
  if (l.op != Op::Const) return std::nullopt;
  if (l.a == "true") return 1;
  if (l.a == "false") return 0;
  if (l.a == "none") return std::numeric_limits<int64_t>::max();
  std::string_view digits = l.a;
  const bool negative = !digits.empty() && digits[0] == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 19) return std::nullopt;
  uint64_t v = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (v > limit) return std::nullopt;
  return negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

std::string constant_line(int64_t value) { return ir::line(Op::Const, std::to_string(value)); }

std::optional<int64_t> fold_binary(std::string_view op, int64_t a, int64_t b) {
  const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  if (op == "+") return static_cast<int64_t>(ua + ub);
  if (op == "-") return static_cast<int64_t>(ua - ub);
  if (op == "*") return static_cast<int64_t>(ua * ub);
  if (op == "/" || op == "%") {
    if (b == 0) return std::nullopt;  // the program raises its division-by-zero error
    if (b == -1) return op == "/" ? static_cast<int64_t>(0 - ua) : 0;
    return op == "/" ? a / b : a % b;
  }
  if (op == "==") return a == b;
  if (op == "!=") return a != b;
  if (op == "<") return a < b;
  if (op == ">") return a > b;
  if (op == "<=") return a <= b;
  if (op == ">=") return a >= b;
  return std::nullopt;
}

namespace {

// The constant at out[out.size() - k] (k from 1), if that line is one.
std::optional<int64_t> tail_constant(const std::vector<std::string>& out, size_t k) {
  if (out.size() < k) return std::nullopt;
  return constant(ir::parse(out[out.size() - k]));
}

}  // namespace

bool fold_constants(Program& p) {
  std::vector<std::string> out;
  out.reserve(p.lines.size());
  bool changed = false;
  for (std::string& text : p.lines) {
    const ir::Line l = ir::parse(text);
    const auto top = tail_constant(out, 1);
    if (top) {
      std::optional<std::string> replaced;
      bool drop = false;
      switch (l.op) {
        case Op::Bin:
          if (auto left = tail_constant(out, 2))
            if (auto v = fold_binary(l.a, *left, *top)) {
              out.pop_back();
              replaced = constant_line(*v);
            }
          break;
        case Op::Neg: replaced = constant_line(static_cast<int64_t>(0 - static_cast<uint64_t>(*top))); break;
        case Op::Not: replaced = constant_line(*top == 0); break;
        case Op::Bool: replaced = constant_line(*top != 0); break;
        case Op::Dup: out.push_back(out.back()); changed = true; continue;
        case Op::Pop: drop = true; break;
        case Op::Jf:
        case Op::Jt:
          drop = true;
          if ((*top == 0) == (l.op == Op::Jf)) replaced = ir::line(Op::Jmp, l.a);
          break;
        default: break;
      }
      if (replaced || drop) {
        out.pop_back();
        if (replaced) out.push_back(std::move(*replaced));
        changed = true;
        continue;
      }
    }
    out.push_back(std::move(text));
  }
  p.lines = std::move(out);
  return changed;
}

namespace {

bool is_jump(Op op) { return op == Op::Jmp || op == Op::Jf || op == Op::Jt; }

// Where each label leads when the first line after it (and after the labels beside it) is a
// JMP: that JMP's target, followed to its end.
std::unordered_map<std::string, std::string> jump_targets(const Program& p) {
  std::unordered_map<std::string, std::string> next;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (p.op(i) != Op::Label) continue;
    size_t j = i + 1;
    while (j < p.lines.size() && p.op(j) == Op::Label) ++j;
    if (j < p.lines.size() && p.op(j) == Op::Jmp) next.emplace(p.lines[i], std::string(p.at(j).a));
  }
  std::unordered_map<std::string, std::string> final;
  for (const auto& [label, first] : next) {
    std::string target = first;
    for (size_t hops = 0; hops < next.size(); ++hops) {  // a cycle ends after every label
      auto it = next.find(target);
      if (it == next.end() || it->second == label) break;
      target = it->second;
    }
    if (target != label) final.emplace(label, target);
  }
  return final;
}

// Whether the label follows line i, with only labels between.
bool label_follows(const Program& p, size_t i, std::string_view label) {
  for (size_t j = i + 1; j < p.lines.size() && p.op(j) == Op::Label; ++j)
    if (p.lines[j] == label) return true;
  return false;
}

}  // namespace

bool thread_jumps(Program& p) {
  const auto targets = jump_targets(p);
  bool changed = false;
  std::vector<std::string> out;
  out.reserve(p.lines.size());
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const ir::Line l = p.at(i);
    if (is_jump(l.op)) {
      std::string target(l.a);
      auto it = targets.find(target);
      if (it != targets.end()) target = it->second;
      if (l.op == Op::Jmp && label_follows(p, i, target)) {  // a jump to the next line
        changed = true;
        continue;
      }
      if (target != l.a) {
        out.push_back(ir::line(l.op, target));
        changed = true;
        continue;
      }
    }
    out.push_back(std::move(p.lines[i]));
  }
  p.lines = std::move(out);
  return changed;
}

namespace {

// Lines that say something even where no path reaches them: declarations the scans read
// (a variable's kind is its first typed write, so a store counts), loop and handler
// structure, framing, and the returns a routine must end with.
bool says_something(Op op) {
  switch (op) {
    case Op::Decl: case Op::Fix: case Op::Store: case Op::INext: case Op::XNext: case Op::XInc:
    case Op::Range: case Op::Iter: case Op::IPop: case Op::Yield: case Op::TryPush: case Op::TryPop:
    case Op::Rec: case Op::RField: case Op::Enum: case Op::EVariant:
    case Op::Ret: case Op::RetN: case Op::Halt:
    case Op::Fn: case Op::Param: case Op::Main: case Op::End: case Op::Label: case Op::Unknown:
      return true;
    default:
      return false;
  }
}

bool ends_straight_line(Op op) {
  return op == Op::Label || op == Op::Fn || op == Op::Param || op == Op::Main || op == Op::End;
}

}  // namespace

bool drop_dead_code(Program& p) {
  bool changed = false;
  std::vector<std::string> out;
  out.reserve(p.lines.size());
  size_t i = 0;
  while (i < p.lines.size()) {
    const Op op = p.op(i);
    out.push_back(std::move(p.lines[i]));
    ++i;
    if (op != Op::Jmp && op != Op::Ret && op != Op::RetN && op != Op::Halt) continue;
    size_t j = i;
    bool removable = true;
    while (j < p.lines.size() && !ends_straight_line(p.op(j))) {
      removable = removable && !says_something(p.op(j));
      ++j;
    }
    if (removable && j > i) {
      i = j;
      changed = true;
    }
  }
  p.lines = std::move(out);
  return changed;
}

bool drop_unused_labels(Program& p) {
  std::set<std::string, std::less<>> used;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    const ir::Line l = p.at(i);
    switch (l.op) {
      case Op::Jmp: case Op::Jf: case Op::Jt: case Op::TryPush: used.emplace(l.a); break;
      case Op::INext: case Op::XNext: used.emplace(l.b); break;
      case Op::XJf: case Op::XJt: {
        const auto words = ir::operands(l);
        if (words.size() == 4) used.emplace(words[3]);
        break;
      }
      default: break;
    }
  }
  std::vector<std::string> out;
  out.reserve(p.lines.size());
  bool changed = false;
  for (std::string& text : p.lines) {
    if (ir::parse(text).op == Op::Label && !used.count(text)) {
      changed = true;
      continue;
    }
    out.push_back(std::move(text));
  }
  p.lines = std::move(out);
  return changed;
}

}  // namespace kv::opt
