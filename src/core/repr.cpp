#include "repr.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "unicode.hpp"

namespace quillon::repr {

void append_integer(std::string& out, std::int64_t i) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, res.ptr);
}

void append_real(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "nan";
    return;
  }
  if (std::signbit(d)) out += '-';
  if (std::isinf(d)) {
    out += "inf";
    return;
  }
  // The shortest round-trip digits, then the host's choice of notation.
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(d), std::chars_format::scientific);
  std::string_view sci(buf, res.ptr - buf);
  std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos))
    if (c != '.') digits += c;
  int exponent = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
  if (digits == "0") exponent = 0;

  const int n = static_cast<int>(digits.size());
  if (exponent >= -4 && exponent <= 15) {
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-point), '0');
      out += digits;
    } else if (point >= n) {
      out += digits;
      out.append(static_cast<std::size_t>(point - n), '0');
      out += ".0";
    } else {
      out.append(digits, 0, point);
      out += '.';
      out.append(digits, point);
    }
    return;
  }
  out += digits[0];
  if (n > 1) {
    out += '.';
    out.append(digits, 1);
  }
  out += exponent < 0 ? "e-" : "e+";
  int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) out += '0';
  append_integer(out, magnitude);
}

namespace {

const char hex_digits[] = "0123456789abcdef";

void append_hex(std::string& out, char prefix, char32_t cp, int digits) {
  out += '\\';
  out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex_digits[(cp >> shift) & 0xF];
}

}  // namespace

void append_text(std::string& out, std::string_view s) {
  bool has_single = s.find('\'') != std::string_view::npos;
  bool has_double = s.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';
  out += quote;
  for (std::size_t pos = 0; pos < s.size();) {
    // Runs of plain printable ASCII go out in one piece.
    std::size_t run = pos;
    while (run < s.size()) {
      unsigned char b = static_cast<unsigned char>(s[run]);
      if (b < 0x20 || b >= 0x7F || b == '\\' || b == static_cast<unsigned char>(quote)) break;
      ++run;
    }
    if (run != pos) {
      out.append(s.data() + pos, run - pos);
      pos = run;
      if (pos == s.size()) break;
    }
    std::size_t start = pos;
    char32_t cp = unicode::next(s, pos);
    if (cp == static_cast<char32_t>(quote) || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp < 0x20 || cp == 0x7F) {
      append_hex(out, 'x', cp, 2);
    } else if (unicode::is_printable(cp)) {
      out.append(s.data() + start, pos - start);
    } else if (cp <= 0xFF) {
      append_hex(out, 'x', cp, 2);
    } else if (cp <= 0xFFFF) {
      append_hex(out, 'u', cp, 4);
    } else {
      append_hex(out, 'U', cp, 8);
    }
  }
  out += quote;
}

namespace {

void append_scalar(std::string& out, const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::null: out += "None"; break;
    case json::Kind::boolean: out += v.as_bool() ? "True" : "False"; break;
    case json::Kind::integer: append_integer(out, v.as_integer()); break;
    case json::Kind::big_integer: out += v.as_chars(); break;
    case json::Kind::real: append_real(out, v.as_real()); break;
    case json::Kind::text: append_text(out, v.as_chars()); break;
    case json::Kind::array:
    case json::Kind::object: break;
  }
}

// One open container of the walk; `order` is where its member order starts
// in the shared order buffer (objects with sorted keys only).
struct Frame {
  const json::Value* value;
  std::size_t next;
  std::size_t order;
};

void sort_member_order(const json::Value& object, std::vector<std::uint32_t>& order) {
  auto members = object.members();
  std::size_t begin = order.size();
  for (std::uint32_t i = 0; i < members.size(); ++i) order.push_back(i);
  // WTF-8 byte order is code-point order, lone surrogates included.
  std::stable_sort(order.begin() + begin, order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return members[a].key < members[b].key; });
}

}  // namespace

void append(std::string& out, const json::Value& value, bool sort_keys) {
  if (!value.is_array() && !value.is_object()) {
    append_scalar(out, value);
    return;
  }
  // Iterative, so that nesting depth is bounded by memory, not the stack.
  std::vector<Frame> stack;
  std::vector<std::uint32_t> order;
  auto open = [&](const json::Value& v) {
    if (v.size() == 0) {
      out += v.is_array() ? "[]" : "{}";
      return;
    }
    out += v.is_array() ? '[' : '{';
    std::size_t at = order.size();
    if (v.is_object() && sort_keys) sort_member_order(v, order);
    stack.push_back({&v, 0, at});
  };
  open(value);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const json::Value& v = *f.value;
    if (f.next == v.size()) {
      out += v.is_array() ? ']' : '}';
      order.resize(f.order);
      stack.pop_back();
      continue;
    }
    if (f.next > 0) out += ", ";
    const json::Value* child;
    if (v.is_array()) {
      child = &v.items()[f.next];
    } else {
      const json::Member& m = v.members()[sort_keys ? order[f.order + f.next] : f.next];
      append_text(out, m.key);
      out += ": ";
      child = &m.value;
    }
    ++f.next;  // `f` may dangle once a child is pushed
    if (child->is_array() || child->is_object())
      open(*child);
    else
      append_scalar(out, *child);
  }
}

}  // namespace quillon::repr
