// Extended lines: a few lines the code generator can give register-based code are joined
// into one, which means exactly the lines it replaces (docs/ir.md). Operands are variables
// and constants loaded straight from where they are, compare-and-branch is one step, a
// counter grows in place.
#include "program.h"

namespace kv::opt {

using ir::Op;

namespace {

// A line that pushes one operand an extended line can name: a variable or an integer.
std::optional<std::string> operand_of(const ir::Line& l) {
  if (l.op == Op::Load && !l.a.empty() && !ir::from_stack(l.a) && !ir::is_constant(l.a) && l.b.empty())
    return std::string(l.a);
  if (auto k = constant(l)) return "#" + std::to_string(*k);
  return std::nullopt;
}

bool is_comparison(std::string_view op) {
  return op == "==" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=";
}

bool is_arithmetic(std::string_view op) {
  return op == "+" || op == "-" || op == "*" || op == "/" || op == "%";
}

struct Fuser {
  const Program& in;
  std::vector<std::string> out;

  ir::Line at(size_t i) const { return i < in.lines.size() ? in.at(i) : ir::Line{}; }

  // LOAD x, CONST k, BIN + (or -), STORE x: x grows by k in place.
  size_t increment(size_t i) {
    const ir::Line load = at(i), k = at(i + 1), bin = at(i + 2), store = at(i + 3);
    if (load.op != Op::Load || bin.op != Op::Bin || store.op != Op::Store || store.a != load.a) return 0;
    auto step = constant(k);
    if (!step || (bin.a != "+" && bin.a != "-") || (bin.a == "-" && *step == INT64_MIN)) return 0;
    out.push_back(ir::line(Op::XInc, load.a, std::to_string(bin.a == "+" ? *step : -*step)));
    return 4;
  }

  // The INEXT of a counting loop whose step is a constant above 0: RANGE after "CONST k",
  // or after two constants from low to high and "CONST none"; the loop's head label, then
  // its INEXT.
  size_t counting_loop(size_t i) {
    if (at(i).op != Op::Range || at(i + 1).op != Op::Label || at(i + 2).op != Op::INext) return 0;
    std::optional<int64_t> step;
    if (out.size() >= 1) {
      const ir::Line last = ir::parse(out.back());
      if (last.op == Op::Const && last.a == "none") {
        if (out.size() >= 3) {
          auto from = constant(ir::parse(out[out.size() - 3])), to = constant(ir::parse(out[out.size() - 2]));
          if (from && to && *from <= *to) step = 1;
        }
      } else if (auto k = constant(last); k && *k > 0) {
        step = *k;
      }
    }
    if (!step) return 0;
    const ir::Line next = at(i + 2);
    out.push_back(in.lines[i]);
    out.push_back(in.lines[i + 1]);
    out.push_back(ir::line(Op::XNext, next.a, next.b, std::to_string(*step)));
    return 3;
  }

  // LOAD a, LOAD or CONST b, INDEX.
  size_t element(size_t i) {
    const ir::Line base = at(i), index = at(i + 2);
    auto b = operand_of(at(i + 1));
    if (base.op != Op::Load || index.op != Op::Index || !b || !operand_of(base) || ir::is_constant(*operand_of(base)))
      return 0;
    out.push_back(ir::line(Op::XIndex, base.a, *b));
    return 3;
  }

  // LOAD a, LOAD or CONST b, a value of one line (an operand) or of three (an element or
  // an operation of two operands), SETIDX: the value first, then the element set in place.
  // Loading a and b after the value is the same, because those lines call nothing and
  // store nothing.
  size_t set_element(size_t i) {
    const ir::Line base = at(i);
    const auto list = operand_of(base), index = operand_of(at(i + 1));
    if (base.op != Op::Load || !list || ir::is_constant(*list) || !index) return 0;
    size_t value = 0;
    if (at(i + 3).op == Op::SetIdx && operand_of(at(i + 2))) {
      out.push_back(ir::line(Op::XPush, *operand_of(at(i + 2))));
      value = 1;
    } else if (at(i + 5).op == Op::SetIdx) {
      value = element(i + 2);
      if (value == 0) value = binary(i + 2);
      const Op made = value == 0 ? Op::Unknown : ir::parse(out.back()).op;
      if (value != 3 || (made != Op::XIndex && made != Op::XBin)) {  // a branch is no value
        if (value != 0) out.pop_back();
        return 0;
      }
    } else {
      return 0;
    }
    out.push_back(ir::line(Op::XSetIdx, *list, *index));
    return 2 + value + 1;
  }

  // Operands and a BIN (and a JF or JT after a comparison) as one line; the left operand,
  // or both, may come from the stack.
  size_t binary(size_t i) {
    std::string a = "^", b = "^";
    size_t used = 0;
    if (auto x = operand_of(at(i)); x && at(i + 1).op != Op::Bin) {
      if (auto y = operand_of(at(i + 1)); y && at(i + 2).op == Op::Bin) {
        a = *x;
        b = *y;
        used = 2;
      }
    }
    if (used == 0) {
      if (auto y = operand_of(at(i)); y && at(i + 1).op == Op::Bin) {
        b = *y;
        used = 1;
      }
    }
    const ir::Line bin = at(i + used);
    if (bin.op != Op::Bin || !(is_comparison(bin.a) || is_arithmetic(bin.a))) return 0;
    const ir::Line jump = at(i + used + 1);
    if (is_comparison(bin.a) && (jump.op == Op::Jf || jump.op == Op::Jt)) {
      std::string line = ir::line(jump.op == Op::Jf ? Op::XJf : Op::XJt, bin.a, a, b);
      line += ' ';
      line += jump.a;
      out.push_back(std::move(line));
      return used + 2;
    }
    out.push_back(ir::line(Op::XBin, bin.a, a, b));
    return used + 1;
  }

  // Whether line i takes the top of the stack at once (a return, a store, a branch, or an
  // extended line whose left operand is "^").
  bool takes_top(size_t i) const {
    const ir::Line next = at(i);
    switch (next.op) {
      case Op::Ret: case Op::Store: case Op::Decl: case Op::Fix: case Op::Jf: case Op::Jt: case Op::Pop:
        return true;
      case Op::Bin: return is_comparison(next.a) || is_arithmetic(next.a);
      default: return false;
    }
  }

  // An operand, or a call's result, for a line that takes it at once: XPUSH and XCALL leave
  // it where that line takes it.
  size_t push(size_t i) {
    if (!takes_top(i + 1) && !(at(i + 1).op != Op::Bin && fused_takes_top(i + 1))) return 0;
    const ir::Line l = at(i);
    if (l.op == Op::Call) {
      out.push_back(ir::line(Op::XCall, l.a, l.b));
      return 1;
    }
    auto x = operand_of(l);
    if (!x) return 0;
    out.push_back(ir::line(Op::XPush, *x));
    return 1;
  }

  // Whether the lines from i fuse into an extended line that takes its left operand from
  // the stack ("^ B": an operand, then a BIN).
  bool fused_takes_top(size_t i) const {
    return operand_of(at(i)) && at(i + 1).op == Op::Bin && (is_comparison(at(i + 1).a) || is_arithmetic(at(i + 1).a)) &&
           !operand_of(at(i + 1));
  }
};

}  // namespace

void fuse(Program& p) {
  Fuser f{p, {}};
  f.out.reserve(p.lines.size());
  for (size_t i = 0; i < p.lines.size();) {
    size_t n = f.increment(i);
    if (n == 0) n = f.counting_loop(i);
    if (n == 0) n = f.set_element(i);
    if (n == 0) n = f.element(i);
    if (n == 0) n = f.binary(i);
    if (n == 0) n = f.push(i);
    if (n == 0) {
      f.out.push_back(p.lines[i]);
      n = 1;
    }
    i += n;
  }
  p.lines = std::move(f.out);
}

}  // namespace kv::opt
