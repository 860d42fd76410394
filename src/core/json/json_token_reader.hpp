// The host decoder's tokens, read as its scanner reads them: strings, and
// scalars (numbers, NaN, Infinity, -Infinity, true, false, null), with its
// checks in its order, its reasons and the byte it reports them at. The
// fast decoder reads the common tokens itself and comes here for the rest
// (integers beyond 64 bits, reals that overflow, lone surrogates, roots that
// are not containers); the diagnosis of a refused document
// (decode_error.hpp) reads every token here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon::json::detail {

// JSON white space as the host knows it: space, tab, line feed, carriage return.
inline bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline std::size_t skip_space(std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_json_space(text[pos])) ++pos;
  return pos;
}

// Reads the string whose opening quote is at text[pos - 1]; returns the
// index after its closing quote. With `out`, appends its text there as
// WTF-8 (an escaped lone surrogate stays one, as the host keeps it).
// Throws JsonDecodeError (the host's reason, at a byte of `text`) for a raw
// control character, a bad escape or a missing end.
std::size_t read_string(std::string_view text, std::size_t pos, std::string* out = nullptr);

// The end of the number, NaN, Infinity, -Infinity, true, false or null at
// text[pos]; anything else there is "Expecting value".
std::size_t scan_scalar(std::string_view text, std::size_t pos);

// scan_scalar, with the token's value into `out`. A big integer's digits are
// a view into `text`, which must outlive `out`.
std::size_t read_scalar(std::string_view text, std::size_t pos, Value& out);

// Refuses a container that opens at byte `at`, max_depth containers deep.
[[noreturn]] void refuse_depth(std::size_t at);

}  // namespace quillon::json::detail
