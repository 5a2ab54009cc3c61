// Text helpers that behave as the standard library's functions of the same names:
// bytes only, no character set; a blank is " ", "\t", "\n" or "\r".
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kv {

bool is_space(char c);
std::string ltrim(std::string_view s);
std::string rtrim(std::string_view s);
std::string trim(std::string_view s);

bool starts_with(std::string_view s, std::string_view prefix);
bool ends_with(std::string_view s, std::string_view suffix);

// Pieces between non-overlapping occurrences of sep, scanning left to right; the piece
// after the last separator always counts (so "" gives one empty piece). An empty sep
// gives a one-element list holding s.
std::vector<std::string> split(std::string_view s, std::string_view sep);
std::string join(const std::vector<std::string>& parts, std::string_view sep);

// Every occurrence of old, left to right and not overlapping, replaced; s unchanged
// when old is empty.
std::string replace(std::string_view s, std::string_view old, std::string_view repl);

}  // namespace kv
