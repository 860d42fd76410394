// The host's literal text forms (repr) of JSON values: None/True/False,
// integers, shortest round-trip reals, quoted text, [..] and {..}.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_value.hpp"

namespace quillon::repr {

void append_text(std::string& out, std::string_view wtf8);  // repr(str), quotes included
inline std::string quoted(std::string_view wtf8) {          // the same, as a string of its own
  std::string out;
  append_text(out, wtf8);
  return out;
}
// repr of any value; with sort_keys, object entries in code-point order of
// their keys (as the printer writes them), otherwise in stored order (as the
// host's repr(dict) does).
void append(std::string& out, const json::Value& value, bool sort_keys);
// Appends the indices of `members` to `order`, sorted by key in that order.
void append_key_order(std::span<const json::Member> members, std::vector<std::uint32_t>& order);

// Writers into a buffer the caller has sized, for the printer's inner loops.
// Each returns the end of what it wrote.
constexpr std::size_t max_integer_bytes = 20;
constexpr std::size_t max_real_bytes = 32;
// Escapes use at most 4 bytes per byte of text (\xNN for a control byte);
// the writer may store a whole block past its end, so it asks for 16 more.
constexpr std::size_t max_text_bytes(std::size_t text_bytes) { return 4 * text_bytes + 2 + 16; }
char* write_integer(char* out, std::int64_t i);
char* write_real(char* out, double d);               // repr(float): 0.1, 1e+16, inf, nan
char* write_text(char* out, std::string_view wtf8);  // quotes included
// The quote repr(str) uses for the whole of `wtf8`, and the text between the
// quotes of a piece of it (cut at code-point boundaries) escaped for that quote.
char quote_for(std::string_view wtf8);
char* write_text_body(char* out, std::string_view wtf8, char quote);

// Width of a code point (not a quote) inside repr(str): 1, or its escape's length.
std::size_t char_width(char32_t cp);

// The room write_scalar needs for `v`.
inline std::size_t max_scalar_bytes(const json::Value& v) {
  if (v.is_text() || v.kind() == json::Kind::big_integer) return max_text_bytes(v.as_chars().size());
  return max_real_bytes;
}
// repr of a scalar: None, True, False, a number or quoted text; nothing for
// an array or object.
inline char* write_scalar(char* out, const json::Value& v) {
  auto put = [&out](std::string_view s) {
    std::memcpy(out, s.data(), s.size());
    return out + s.size();
  };
  switch (v.kind()) {
    case json::Kind::null:
      return put("None");
    case json::Kind::boolean:
      return put(v.as_bool() ? std::string_view("True") : std::string_view("False"));
    case json::Kind::integer:
      return write_integer(out, v.as_integer());
    case json::Kind::big_integer:
      return put(v.as_chars());
    case json::Kind::real:
      return write_real(out, v.as_real());
    case json::Kind::text:
      return write_text(out, v.as_chars());
    case json::Kind::array:
    case json::Kind::object:
      break;
  }
  return out;
}
void append_scalar(std::string& out, const json::Value& v);

// The host's name for the type of a value: NoneType, bool, int, float, str,
// list, dict (for its TypeError messages).
constexpr std::string_view type_name(json::Kind kind) {
  switch (kind) {
    case json::Kind::null:
      return "NoneType";
    case json::Kind::boolean:
      return "bool";
    case json::Kind::integer:
    case json::Kind::big_integer:
      return "int";
    case json::Kind::real:
      return "float";
    case json::Kind::text:
      return "str";
    case json::Kind::array:
      return "list";
    case json::Kind::object:
      return "dict";
  }
  return "object";
}

}  // namespace quillon::repr
