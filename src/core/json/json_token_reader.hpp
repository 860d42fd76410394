// The host decoder's scalar tokens, read by hand. The fast parser handles
// the common case; these cover what it refuses but the host accepts
// (integers beyond 64 bits, NaN, Infinity, -Infinity, reals that overflow,
// lone surrogate escapes) and root values that are not containers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon::json::detail {

// JSON white space as the host knows it: space, tab, line feed, carriage return.
inline bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline std::size_t skip_space(std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_json_space(text[pos])) ++pos;
  return pos;
}

// Reads the string whose opening quote is at text[pos - 1], appending its
// text as WTF-8 to `out`; returns the index after the closing quote.
// Raw control characters, unknown escapes and a missing end are errors.
std::size_t read_string(std::string_view text, std::size_t pos, std::string& out);

// Reads the number, NaN, Infinity, -Infinity, true, false or null at
// text[pos] into `out`; returns the index after it. A big integer's digits
// are a view into `text`, which must outlive `out`. Anything else there is
// "Expecting value".
std::size_t read_scalar(std::string_view text, std::size_t pos, Value& out);

}  // namespace quillon::json::detail
