// The Kavel token language, shared by the front end and the checker.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

enum class TokKind { Num, Id, Kw, Str, Sym, Eof };

// The kind as diagnostics spell it: "num", "id", "kw", "str", "sym", "eof".
std::string_view kind_name(TokKind kind);

struct Token {
  TokKind kind;
  std::string value;  // raw: string literals keep every backslash as written
  size_t pos;         // offset of the first character (the opening quote of a string)
};

bool is_digit(char c);
bool is_letter(char c);  // ASCII letters and "_"
bool is_keyword(std::string_view word);

// Cuts a text into tokens. Never fails: every byte is white space or part of a token.
std::vector<Token> lex(std::string_view text);

// Doubles every backslash and writes LF, CR and tab as backslash-n, -r, -t.
std::string escape_ir_text(std::string_view raw);

}  // namespace kv
