// The module's frame: the runtime's pieces (runtime/*.asm, embedded at build time) written
// at their places with their names and placeholders replaced, the string and float pools,
// and the program's globals.
#include "module.h"

#include <string>
#include <unordered_map>

#include "emitasm.h"
#include "layout.h"
#include "runtime_text.h"

namespace kv {

std::string db_operands(std::string_view s) {
  std::string out;
  bool open = false;
  auto number = [&](int v) {
    if (open) {
      out += '"';
      open = false;
    }
    if (!out.empty()) out += ',';
    out += std::to_string(v);
  };
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '\\' && i + 1 < s.size() && s[i + 1] == '\\') {
      char next = i + 2 < s.size() ? s[i + 2] : '\0';
      bool has_next = i + 2 < s.size();
      if (has_next && next == 'n') {
        number(10);
        i += 3;
      } else if (has_next && next == 'r') {
        number(13);
        i += 3;
      } else if (has_next && next == 't') {
        number(9);
        i += 3;
      } else if (has_next && next == '\\') {
        number(92);
        i += 4;
      } else if (has_next && next == '"') {
        number(34);
        i += 3;
      } else {
        number(92);
        i += 2;
      }
      continue;
    }
    if (c == '"') {
      number(34);
      ++i;
      continue;
    }
    if (!open) {
      if (!out.empty()) out += ',';
      out += '"';
      open = true;
    }
    out += static_cast<char>(c);
    ++i;
  }
  if (open) out += '"';
  if (!out.empty()) out += ',';
  out += '0';
  return out;
}

namespace gen {
namespace {

// One row of the error-exit table: what EXIT and MESSAGE stand for in the template.
struct ExitRow {
  std::string_view label, message;
};

// Takes the next line worth writing off the front of text, its trailing blanks cut;
// false when none is left.
bool next_line(std::string_view& text, std::string_view& line) {
  while (!text.empty()) {
    size_t nl = text.find('\n');
    line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] != ';') return true;
  }
  return false;
}

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// What an upper-case name stands for: a field of the exit being written, else a layout
// constant, spelt as layout.def spells it.
bool value_of(std::string_view word, const ExitRow* row, std::string_view& value) {
  static const std::unordered_map<std::string_view, std::string_view> constants = [] {
    std::unordered_map<std::string_view, std::string_view> index;
    for (const layout::Constant& c : layout::kConstants) index.emplace(c.name, c.text);
    return index;
  }();
  if (row && word == "EXIT") {
    value = row->label;
    return true;
  }
  if (row && word == "MESSAGE") {
    value = row->message;
    return true;
  }
  auto it = constants.find(word);
  if (it == constants.end()) return false;
  value = it->second;
  return true;
}

// The line with every whole word that begins with an upper-case letter and has a value
// replaced by it; other words (GetStdHandle, 0x7FF0...) stay as they are.
std::string replace_names(std::string_view line, const ExitRow* row) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    size_t j = i;
    while (j < line.size() && is_word_byte(line[j])) ++j;
    if (j == i) {
      out += line[i++];
      continue;
    }
    std::string_view word = line.substr(i, j - i), value;
    out.append(word[0] >= 'A' && word[0] <= 'Z' && value_of(word, row, value) ? value : word);
    i = j;
  }
  return out;
}

// Each @@text@@ becomes the pool label of that text, interned here, left to right.
std::string intern_literals(Gen& g, std::string_view rest) {
  std::string out;
  for (;;) {
    size_t open = rest.find("@@");
    if (open == std::string_view::npos) break;
    size_t close = rest.find("@@", open + 2);
    if (close == std::string_view::npos) break;
    out.append(rest.substr(0, open));
    out.append(g.str_label(rest.substr(open + 2, close - open - 2)));
    rest.remove_prefix(close + 2);
  }
  out.append(rest);
  return out;
}

void write_text(Gen& g, std::string_view text, const ExitRow* row) {
  std::string_view line;
  while (next_line(text, line)) {
    size_t first = line.find_first_not_of(" \t");
    std::string expanded = intern_literals(g, replace_names(line.substr(first), row));
    if (first == 0)
      g.label(expanded);
    else
      g.ins(expanded);
  }
}

// The template once per row of the table, in the table's order.
void write_error_exits(Gen& g, std::string_view templ, std::string_view table) {
  std::string_view line;
  while (next_line(table, line)) {
    line.remove_prefix(line.find_first_not_of(" \t"));
    size_t blank = line.find(' ');
    ExitRow row{line.substr(0, blank), blank == std::string_view::npos ? "" : line.substr(blank + 1)};
    write_text(g, templ, &row);
  }
}

}  // namespace

void write_runtime_text(Gen& g, std::string_view text) { write_text(g, text, nullptr); }

void write_module_head(Gen& g) {
  write_runtime_text(g, runtime_text().header);
  write_runtime_text(g, runtime_text().kv_start);
}

void write_runtime_block(Gen& g, std::string_view routines) {
  write_runtime_text(g, routines);
  write_error_exits(g, runtime_text().exit_template, runtime_text().exit_table);
}

void write_module_tail(Gen& g) {
  write_runtime_text(g, runtime_text().data);
  for (size_t k = 0; k < g.strings.items.size(); ++k)
    g.label("str_" + std::to_string(k) + ": db " + db_operands(g.strings.items[k]));
  for (size_t k = 0; k < g.floats.items.size(); ++k)
    g.label("dbl_" + std::to_string(k) + ": dq " + g.floats.items[k]);
  write_runtime_text(g, runtime_text().bss);
  for (const std::string& name : g.global_names.items) g.label("kv_g_" + name + ": resq 1");
  // The kinds of globals of a kind known only at run time, and of arguments handed over as
  // such (only programs that have them carry these cells).
  for (const std::string& name : g.global_kinds.items) g.label("kv_k_" + name + ": resq 1");
  if (g.arg_kinds > 0) g.label("kv_arg_kinds: resq " + std::to_string(g.arg_kinds));
  // The collector scans the bss section up to here: the runtime's cells and the globals.
  g.label("bss_end:");
}

}  // namespace gen
}  // namespace kv
