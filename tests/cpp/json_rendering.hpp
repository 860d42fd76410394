// A decoded value written out so that tests can compare it with what they
// expect: the decoding tests' one rendering.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "json/json_decode.hpp"

namespace quillon::json::test_support {

// A compact, unambiguous rendering: kinds are spelled out where JSON text
// would blur them (big integers, reals, text bytes).
inline void render(const Value& v, std::string& out) {
  switch (v.kind()) {
    case Kind::null:
      out += "null";
      break;
    case Kind::boolean:
      out += v.as_bool() ? "true" : "false";
      break;
    case Kind::integer:
      out += std::to_string(v.as_integer());
      break;
    case Kind::big_integer:
      out += "big(" + std::string(v.as_chars()) + ")";
      break;
    case Kind::real: {
      double d = v.as_real();
      if (std::isnan(d))
        out += "nan";
      else if (std::isinf(d))
        out += d < 0 ? "-inf" : "inf";
      else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%s%.17g", std::signbit(d) ? "-" : "", std::fabs(d));
        out += std::string("real(") + buf + ")";
      }
      break;
    }
    case Kind::text:
      out += '"';
      for (unsigned char c : v.as_chars()) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
          out += static_cast<char>(c);
        } else {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          out += buf;
        }
      }
      out += '"';
      break;
    case Kind::array:
      out += '[';
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ',';
        render(v.items()[i], out);
      }
      out += ']';
      break;
    case Kind::object:
      out += '{';
      for (std::size_t i = 0; i < v.size(); ++i) {
        if (i) out += ',';
        render(Value::text(v.members()[i].key()), out);
        out += ':';
        render(v.members()[i].value, out);
      }
      out += '}';
      break;
  }
}

inline std::string rendered(std::string_view body) {
  Document doc = decode(body);
  std::string out;
  render(doc.root, out);
  // The in-place path must agree.
  std::string buffer(body);
  Document again = decode_buffer(buffer);
  std::string out2;
  render(again.root, out2);
  EXPECT_EQ(out, out2) << "decode_buffer differs for " << body;
  return out;
}

}  // namespace quillon::json::test_support
