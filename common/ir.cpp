#include "ir.h"

#include <cstdint>

namespace kv::ir {
namespace {

// Every opcode has at most eight bytes, so its bytes packed into one integer are its key:
// finding an opcode costs one multiplication and a compare or two, which matters because
// every pass of opt and every line of emitasm asks for one.
constexpr size_t kMaxOpcode = 8;
constexpr size_t kSlots = 256;  // a power of two, more than three times the opcodes

uint64_t pack(std::string_view word) {
  uint64_t key = 0;
  for (size_t i = 0; i < word.size(); ++i) key |= uint64_t(uint8_t(word[i])) << (8 * i);
  return key;
}

size_t slot_of(uint64_t key) { return size_t((key * 0x9E3779B97F4A7C15ull) >> 56) & (kSlots - 1); }

constexpr bool opcodes_fit() {
  for (const OpInfo& o : kOps)
    if (o.name.size() > kMaxOpcode) return false;
  return true;
}
static_assert(opcodes_fit() && kOpCount * 3 < kSlots);

struct OpcodeIndex {
  uint64_t keys[kSlots] = {};
  uint8_t sizes[kSlots] = {};  // tells "RET" from "RET" and a 0 byte
  int16_t ops[kSlots];  // -1 for an empty slot
  OpcodeIndex() {
    for (int16_t& o : ops) o = -1;
    for (size_t i = 0; i < kOpCount; ++i) {
      const uint64_t key = pack(kOps[i].name);
      size_t s = slot_of(key);
      while (ops[s] >= 0) s = (s + 1) & (kSlots - 1);
      keys[s] = key;
      sizes[s] = uint8_t(kOps[i].name.size());
      ops[s] = int16_t(i);
    }
  }
  Op find(std::string_view word) const {
    if (word.empty() || word.size() > kMaxOpcode) return Op::Unknown;
    const uint64_t key = pack(word);
    for (size_t s = slot_of(key); ops[s] >= 0; s = (s + 1) & (kSlots - 1))
      if (keys[s] == key && sizes[s] == word.size()) return static_cast<Op>(ops[s]);
    return Op::Unknown;
  }
};

const OpcodeIndex& opcodes() {
  static const OpcodeIndex index;
  return index;
}

Op opcode_of(std::string_view opcode, bool has_operands) {
  const Op op = opcodes().find(opcode);
  switch (op) {
    case Op::Main:
    case Op::End: return has_operands ? Op::Unknown : op;
    case Op::Fn:
    case Op::Param: return has_operands ? op : Op::Unknown;
    default: return op;
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
