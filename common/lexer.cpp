#include "lexer.h"

#include <array>

namespace kv {

std::string_view kind_name(TokKind kind) {
  switch (kind) {
    case TokKind::Num: return "num";
    case TokKind::Id: return "id";
    case TokKind::Kw: return "kw";
    case TokKind::Str: return "str";
    case TokKind::Sym: return "sym";
    case TokKind::Eof: return "eof";
  }
  return "eof";
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_keyword(std::string_view word) {
  static constexpr std::array<std::string_view, 37> keywords = {
      "let",  "fix",   "any",   "var",  "int",   "float", "text", "bool",  "list", "map",
      "true", "false", "fn",    "give", "start", "loop",  "in",   "to",    "step", "while",
      "when", "or",    "and",   "not",  "else",  "stop",  "skip", "kvlog", "rec",  "enum",
      "use",  "match", "try",   "catch", "private", "spawn", "yield"};
  for (std::string_view k : keywords)
    if (k == word) return true;
  return false;
}

namespace {

// What a peek past the last token sees.
const std::string kNoValue;

bool joins(char a, char b) {
  return (b == '=' && (a == '=' || a == '!' || a == '<' || a == '>')) || (a == '-' && b == '>');
}

}  // namespace

void lex(std::string_view text, std::vector<Token>& tokens) {
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      ++i;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '/') {
      while (i < n && text[i] != '\n') ++i;
    } else if (is_digit(c)) {
      size_t j = i + 1;
      while (j < n && (is_digit(text[j]) || text[j] == '.')) ++j;
      tokens.push_back({TokKind::Num, std::string(text.substr(i, j - i)), i});
      i = j;
    } else if (is_letter(c)) {
      size_t j = i + 1;
      while (j < n && (is_letter(text[j]) || is_digit(text[j]))) ++j;
      std::string_view word = text.substr(i, j - i);
      tokens.push_back({is_keyword(word) ? TokKind::Kw : TokKind::Id, std::string(word), i});
      i = j;
    } else if (c == '"') {
      size_t j = i + 1;
      while (j < n && text[j] != '"') j += (text[j] == '\\') ? 2 : 1;
      if (j > n) j = n;  // a backslash as the very last byte
      tokens.push_back({TokKind::Str, std::string(text.substr(i + 1, j - i - 1)), i});
      i = j < n ? j + 1 : n;
    } else if (i + 1 < n && joins(c, text[i + 1])) {
      tokens.push_back({TokKind::Sym, std::string(text.substr(i, 2)), i});
      i += 2;
    } else {
      tokens.push_back({TokKind::Sym, std::string(1, c), i});
      ++i;
    }
  }
}

std::vector<Token> lex(std::string_view text) {
  std::vector<Token> tokens;
  lex(text, tokens);
  return tokens;
}

TokenCursor::TokenCursor(std::string_view text) : end_(text.size()) {
  tokens_.push_back({TokKind::Sym, "~", 0});
  lex(text, tokens_);
}

const std::string& TokenCursor::peek_value() const {
  return at_end() ? kNoValue : tokens_[index_].value;
}

const std::string& TokenCursor::peek_value_next() const {
  return index_ + 1 >= tokens_.size() ? kNoValue : tokens_[index_ + 1].value;
}

std::string escape_ir_text(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (char c : raw) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace kv
