// The second round's rules: what the walk reports in a program that passed the type rules
// but would fail to build, or would run other than written. Each rule mirrors what the
// front end, the code generator or the assembler do with the construct.
#include <algorithm>
#include <string>

#include "checker.h"
#include "library_functions.h"

namespace kv::vetter {
namespace {

// NASM reads at most this many digits of a float's significand (from the first that is
// not 0, trailing zeros included) and warns about more.
constexpr size_t kMaxFloatDigits = 52;

// The largest int literal: a value is one signed 64-bit slot. Right after a unary "-" the
// literal may be one more, which the negation turns into the smallest int.
constexpr std::string_view kMaxInt = "9223372036854775807";
constexpr std::string_view kMaxNegatedInt = "9223372036854775808";

// Whether a run of decimal digits, leading zeros and all, is at most the number `limit`
// (written without leading zeros).
bool at_most(std::string_view digits, std::string_view limit) {
  const size_t first = digits.find_first_not_of('0');
  if (first == std::string_view::npos) return true;
  digits.remove_prefix(first);
  return digits.size() < limit.size() || (digits.size() == limit.size() && digits <= limit);
}

uint64_t local_key(int32_t function, int32_t name) {
  return (static_cast<uint64_t>(static_cast<uint32_t>(function)) << 32) |
         static_cast<uint32_t>(name);
}

}  // namespace

void Checker::report_at(size_t token, std::string_view message) {
  const size_t saved = ts_.index();
  ts_.seek(token);
  report_error(message);
  ts_.seek(saved);
}

// ---- declarations -------------------------------------------------------------------------

// A declared name becomes a label or an IR operand: it must be a name.
void Checker::check_name_at(size_t token) {
  if (token >= ts_.count() || ts_.token(token).kind != TokKind::Id) report_at(token, "expected a name");
}

// A type is a type word (the fixed ids kInt to kVar) or a name: a record's, an enum's.
void Checker::check_type_at(size_t token) {
  if (token < ts_.count() && ts_.token(token).kind == TokKind::Id) return;
  if (token < ts_.count() && ids_[token] >= kInt && ids_[token] <= kVar) return;
  report_at(token, "expected a type");
}

// ---- literals -----------------------------------------------------------------------------

// At the literal: a number is digits with at most one ".", which the assembler must read
// as written.
void Checker::check_number(int32_t literal) {
  const std::string_view digits = text(literal);
  const size_t dots = static_cast<size_t>(std::count(digits.begin(), digits.end(), '.'));
  if (dots > 1) {
    report_error("number literal with more than one '.'");
  } else if (dots == 1) {
    const size_t first = digits.find_first_not_of("0.");
    size_t significant = 0;
    if (first != std::string_view::npos)
      for (char c : digits.substr(first)) significant += c != '.';
    if (significant > kMaxFloatDigits)
      report_error(cat("float literal with more than ", std::to_string(kMaxFloatDigits), " digits"));
  } else if (!at_most(digits, ts_.index() == negated_literal_ ? kMaxNegatedInt : kMaxInt)) {
    report_error("int literal does not fit in 64 bits");
  }
}

// At the literal: a text ends at its first 0 byte, and NASM stops reading a file at the
// byte 26.
void Checker::check_text(int32_t literal) {
  const std::string_view raw = text(literal);
  if (raw.find('\0') != std::string_view::npos || raw.find('\x1a') != std::string_view::npos)
    report_error("text literal holds a byte 0 or 26");
}

// "${" expr "}" inside a text literal: the front end lowers each part as an expression of
// its own, cut at the first "}" after the "${" (or at the end of the literal). The walk
// checks it in a token stream of its own; what it finds is reported at the literal.
void Checker::check_interpolations(int32_t literal, size_t at) {
  const std::string_view raw = text(literal);
  if (raw.find("${") == std::string_view::npos) return;
  const bool outermost = !in_interpolation();
  if (outermost) {
    anchor_ = at;
    anchor_pos_ = ts_.token(at).pos;
  }
  for (size_t pos = 0;;) {
    const size_t open = raw.find("${", pos);
    if (open == std::string_view::npos) break;
    const size_t start = open + 2;
    const size_t close = std::min(raw.find('}', start), raw.size());
    pos = close < raw.size() ? close + 1 : raw.size();
    check_interpolated(raw.substr(start, close - start));
  }
  if (outermost) anchor_ = kNoAnchor;
}

// One interpolated expression, which must be the whole of its part: the front end would
// drop what follows it.
void Checker::check_interpolated(std::string_view code) {
  TokenCursor outer = std::move(ts_);
  std::vector<int32_t> outer_ids = std::move(ids_);
  const size_t saved_head = statement_head_;
  const size_t saved_negated = negated_literal_;
  ts_ = TokenCursor(code);
  ids_.clear();
  for (size_t i = 0; i < ts_.count(); ++i) ids_.push_back(names_.add_owned(ts_.token(i).value));
  statement_head_ = 0;
  check_expression();
  if (!at_end())
    report_error(cat("unexpected token '", text(peek_value()), "' (kind=", kind_name(peek_kind()), ")"));
  ts_ = std::move(outer);
  ids_ = std::move(outer_ids);
  statement_head_ = saved_head;
  negated_literal_ = saved_negated;
}

// ---- elements and loops ---------------------------------------------------------------------------
// The compiled code takes whatever value it gets for what an operation needs (an int for
// the address of a list, say), and crashes or counts up to an address. Arithmetic and
// comparisons are left alone: on a text, a list or a record they work on its address,
// which a program may mean. A value the checker knows no type of (any, var, or a missing
// field's unknown) may be anything; booleans and enum members are integers.

bool Checker::is_integer(int32_t type) const {
  return type == kInt || type == kBool || is_open(type) || is_enum(type);
}

// At the "{" of x{i}: a list's element or a text's byte, by an int; only a list's element
// can be set.
void Checker::check_element(size_t brace, int32_t base, int32_t index, bool set) {
  if (base != kList && base != kText && !is_open(base))
    report_at(brace, cat("an element needs a list or a text, not ", text(base)));
  else if (set && base == kText)
    report_at(brace, "an element is set only in a list, not in a text");
  else if (!is_integer(index))
    report_at(brace, cat("an index must be an int, not ", text(index)));
}

// loop v in S: the elements of a list, the keys of a map or the bytes of a text.
void Checker::check_loop_source(size_t at, int32_t source) {
  if (source != kList && source != kMap && source != kText && !is_open(source))
    report_at(at, cat("a loop goes through a list, a map or a text, not ", text(source)));
}

// A range's bounds and step, and a loop's count.
void Checker::check_count(size_t at, int32_t type) {
  if (!is_integer(type)) report_at(at, cat("a loop counts with ints, not ", text(type)));
}

// ---- fields, enums, records and functions ------------------------------------------------------

// After `.field`: the front end reads a field only from a variable's name, at the offset
// the record type of that variable's let or parameter gives.
void Checker::check_field(int32_t variable, int32_t field) {
  if (variable == kEmpty) {
    report_error(cat("field '", text(field), "' can only follow a variable name"));
    return;
  }
  const int32_t record = declared_type(variable);
  if (!is_record(record)) {
    report_error(cat("field '", text(field), "': ", text(variable),
                     " is not declared with a record type"));
  } else if (find_field(record, field) == nullptr) {
    report_error(cat("record ", text(record), " has no field '", text(field), "'"));
  }
}

int32_t Checker::declared_type(int32_t name) const {
  auto it = declared_types_.find(name);
  return it == declared_types_.end() ? kUnknown : it->second;
}

// At the member after `Enum.`: an unknown member would silently count as the first.
void Checker::check_enum_member(int32_t name) {
  auto it = enums_.find(name);
  if (it != enums_.end() && it->second.members.count(peek_value()) == 0)
    report_error(cat("enum ", text(name), " has no member '", text(peek_value()), "'"));
}

// At the ")" of a call: the program's function takes its parameters, a built-in its
// table's count (printout any number), a record constructor one value a field.
void Checker::check_arity(Callee callee, int32_t name, size_t count) {
  int64_t expected = -1;
  if (callee == Callee::Record) {
    expected = static_cast<int64_t>(records_.at(name).field_types.size());
  } else if (callee == Callee::Function) {
    if (auto fn = functions_.find(name); fn != functions_.end())
      expected = static_cast<int64_t>(fn->second.param_count);
    else if (const BuiltinEntry* b = builtin_called(name))
      expected = b->row->args;
  }
  if (expected < 0 || static_cast<int64_t>(count) == expected) return;
  report_error(cat("call to ", text(name), "(): expects ", std::to_string(expected),
                   expected == 1 ? " argument" : " arguments", " but got ",
                   std::to_string(count)));
}

void Checker::check_builtin_argument(int32_t fn, size_t k, int32_t actual) {
  const BuiltinEntry* b = builtin_called(fn);
  if (b == nullptr || k >= b->params.size()) return;
  const int32_t expected = b->params[k];
  std::string_view wanted = text(expected);
  bool fits = type_compatible(expected, actual);
  if (expected == kNum) {
    wanted = "int or float";
    fits = type_compatible(kInt, actual) || type_compatible(kFloat, actual);
  } else if (expected == kSized) {
    wanted = "a text, a list or a map";
    fits = actual == kText || actual == kList || actual == kMap || is_open(actual);
  }
  if (!fits)
    report_error(cat("call to ", text(fn), "(): argument ", std::to_string(k + 1), " expects ",
                     wanted, " but got ", text(actual)));
}

void Checker::check_record_argument(int32_t record, size_t k, int32_t actual) {
  const std::vector<int32_t>& fields = records_.at(record).field_types;
  if (k < fields.size() && !type_compatible(fields[k], actual))
    report_error(cat("call to ", text(record), "(): argument ", std::to_string(k + 1),
                     " expects ", text(fields[k]), " but got ", text(actual)));
}

// The built-in a call of `name` reaches: none when the program has a function of that
// name, which takes precedence.
const BuiltinEntry* Checker::builtin_called(int32_t name) const {
  if (is_function(name)) return nullptr;
  auto it = builtins_.find(name);
  return it == builtins_.end() ? nullptr : &it->second;
}

// After the name of a call: a call of something that is neither the program's function
// nor a built-in cannot be linked. A function of a shipped library gets the `use` it needs.
void Checker::check_undeclared_function(int32_t name) {
  if (is_function(name) || builtins_.count(name) != 0) return;
  std::string message = cat("undeclared function: ", text(name));
  for (const LibraryFunction& f : kLibraryFunctions) {
    if (f.name != text(name)) continue;
    message += cat(" (defined in ", f.library, ": add use \"", f.library, "\":)");
    break;
  }
  report_error(message);
}

// The front end meets an enum or a record constructor only from its declaration on.
void Checker::check_declared_before(std::string_view kind, int32_t name, size_t token,
                                    size_t pos) {
  if (here() < token)
    report_error(cat(kind, " ", text(name), " is used before its declaration at ",
                     location_of(pos)));
}

// Two functions of one name are one label twice; two records of one name, one record
// whose fields the constructors disagree on.
void Checker::check_declared_once(std::string_view kind, int32_t name, size_t token,
                                  size_t first_token, size_t first_pos) {
  if (token != first_token)
    report_error(cat(kind, " ", text(name), " is already declared at ", location_of(first_pos)));
}

// At the "]" of a function with a result type whose body may end without a give: the
// caller would get 0 for its result.
void Checker::report_missing_give(int32_t function) {
  report_fault(cat("function ", text(function), "() returns ", text(current_return_type_),
                   " but can reach its end without give"));
}

// ---- variables as the compiled program finds them ----------------------------------------------

void Checker::declare_variable(int32_t name, size_t point) {
  if (function_ < 0)
    globals_.insert(name);
  else
    locals_.emplace(local_key(function_, name), point);
}

// Assigning outside a function makes a global; inside one, the name must be found.
void Checker::assign_variable(int32_t name) {
  if (function_ < 0)
    globals_.insert(name);
  else
    use_variable(name, false);
}

// Inside a function a name is its local, from the local's first declaration on, or else a
// global; outside functions it is a global. The first round has seen every declaration.
void Checker::use_variable(int32_t name, bool read) {
  if (!second_round_) return;
  if (function_ >= 0) {
    auto it = locals_.find(local_key(function_, name));
    if (it != locals_.end()) {
      if (read && here() < it->second)
        report_error(cat(text(name), " is read before its declaration in this function"));
      return;
    }
  }
  if (globals_.count(name) == 0) report_error(cat("undeclared identifier: ", text(name)));
}

}  // namespace kv::vetter
