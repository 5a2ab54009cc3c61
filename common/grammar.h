// What the front end's and the checker's parsers share of the grammar beyond the tokens:
// how deep constructs may nest and how tightly the operators bind.
#pragma once
#include <array>
#include <cstddef>
#include <string_view>

namespace kv {

// How deep blocks and expressions may nest. Both parsers descend recursively on the
// native stack; past this depth the rest of the construct gets a diagnostic instead of
// a stack overflow. A thousand levels is far beyond any program written by hand, and
// the deepest accepted input still fits in less than 1 MB of stack in a release build
// (nested calls, the costliest shape, take about 0.8 MB in the front end and 0.4 MB in
// the checker), the default stack of a Windows main thread; both programs' Windows builds
// link with a larger stack to leave room. What counts as a level is each program's
// own: see its enter routine.
inline constexpr int kMaxNesting = 1000;

// Expressions, from the loosest binding to the tightest:
//
//   or          a or b      joins and-levels, short-circuit; an "or" right before "[" is
//                           left to the statement around the expression
//   and         a and b     joins not-levels, short-circuit
//   not         not a       prefix, repeatable, over a comparison: not a == b is not (a == b)
//   comparison  a < b       the two-operand levels: kBinaryLevels below
//   additive    a + b
//   multiplicative a * b
//   unary       - a         prefix, repeatable, over a postfix
//   postfix     a{i}        index after a primary, repeatable (the checker also reads
//                           a field, a.f, at this level)
//   primary     a literal, a name, a call, "(" expr ")", a collection literal, kvlog
//
// Each two-operand level is left-associative over the next one, the last over unary:
//   level := operand { operator operand }
// Both parsers walk these levels with one routine (precedence climbing): parse a unary,
// then take each following operator of level k or tighter, its right operand being the
// same routine for the levels above the operator's. That gives the lines and types of
// one routine per level, and an operand that stands alone (an argument, a parenthesised
// expression) costs one stack frame instead of three.
enum class BinaryLevel { Comparison, Additive, Multiplicative };

inline constexpr size_t kMaxLevelOperators = 6;

struct BinaryLevelRow {
  BinaryLevel level;
  std::array<std::string_view, kMaxLevelOperators> operators;  // unused places are empty
};

inline constexpr std::array<BinaryLevelRow, 3> kBinaryLevels = {{
    {BinaryLevel::Comparison, {"==", "!=", "<", ">", "<=", ">="}},
    {BinaryLevel::Additive, {"+", "-"}},
    {BinaryLevel::Multiplicative, {"*", "/", "%"}},
}};

// Row k describes level k, so a parser can walk the levels by index.
static_assert(kBinaryLevels[0].level == BinaryLevel::Comparison &&
              kBinaryLevels[1].level == BinaryLevel::Additive &&
              kBinaryLevels[2].level == BinaryLevel::Multiplicative);

struct BinaryOperator {
  std::string_view text;  // the table's own text, which outlives the token it was read
                          // from; empty when the symbol is no two-operand operator
  size_t level = 0;       // index into kBinaryLevels
};

constexpr BinaryOperator binary_operator(std::string_view symbol) {
  if (symbol.empty()) return {};
  for (size_t level = 0; level < kBinaryLevels.size(); ++level)
    for (std::string_view op : kBinaryLevels[level].operators)
      if (op == symbol) return {op, level};
  return {};
}

}  // namespace kv
