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

// Cuts a text into tokens, appended to `out`. Never fails: every byte is white space or
// part of a token.
void lex(std::string_view text, std::vector<Token>& out);
std::vector<Token> lex(std::string_view text);

// The tokens of one text and the cursor both parsers read them through. Index 0 holds a
// placeholder ("~"), so the first real token is number 1 and a token's index is the
// 1-based token number that diagnostics give. At or past count() a peek sees kind "eof"
// and the empty value; advancing has no bound check.
class TokenCursor {
 public:
  TokenCursor() : TokenCursor(std::string_view()) {}
  explicit TokenCursor(std::string_view text);

  size_t count() const { return tokens_.size(); }  // the placeholder included
  size_t index() const { return index_; }
  void seek(size_t index) { index_ = index; }
  void advance() { ++index_; }
  bool at_end() const { return index_ >= tokens_.size(); }
  // Token number i (0: the placeholder); i must be below count().
  const Token& token(size_t i) const { return tokens_[i]; }

  TokKind peek_kind() const { return at_end() ? TokKind::Eof : tokens_[index_].kind; }
  const std::string& peek_value() const;
  const std::string& peek_value_next() const;
  bool at_sym(std::string_view sym) const { return at(index_, TokKind::Sym, sym); }
  bool at_kw(std::string_view kw) const { return at(index_, TokKind::Kw, kw); }
  bool next_is_sym(std::string_view sym) const { return at(index_ + 1, TokKind::Sym, sym); }
  // Where the token under the cursor starts in the text; past the end, the text's length.
  size_t position() const { return at_end() ? end_ : tokens_[index_].pos; }

 private:
  bool at(size_t i, TokKind kind, std::string_view value) const {
    return i < tokens_.size() && tokens_[i].kind == kind && tokens_[i].value == value;
  }

  std::vector<Token> tokens_;
  size_t index_ = 1;
  size_t end_ = 0;
};

// Doubles every backslash and writes LF, CR and tab as backslash-n, -r, -t.
std::string escape_ir_text(std::string_view raw);

}  // namespace kv
