// One iterative pass over the value (nesting is bounded by memory, not the
// stack), into a buffer that is handed over whenever it passes 64 KiB. Text
// is copied in blocks up to the next byte JSON needs to look at: a control
// character, a quote, a backslash, or 0xED, which may start a lone surrogate.
#include "print/json_writer.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "print/key_order.hpp"
#include "print/output_buffer.hpp"
#include "print/repr.hpp"
#include "text/byte_scan.hpp"

namespace quillon {
namespace {

using json::Kind;
using json::Value;

// One line with members in stored order, or indented with sorted keys.
enum class Layout { line, indented };

// A quoted text needs at most 6 bytes per byte (\u00XX for a control), and
// the block copy may store 16 bytes past the end of what it keeps.
constexpr std::size_t max_text_bytes(std::size_t n) { return 6 * n + 2 + 16; }

// Stops where JSON needs a look: a control character, a quote, a
// backslash, or 0xED, which may start a lone surrogate.
struct NotPlainJson {
#if defined(__SSE2__)
  __m128i flags16(__m128i v) const {
    const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1F)), v);
    return _mm_or_si128(_mm_or_si128(control, _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\\')),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xED)))));
  }
#endif
  std::uint64_t flags8(std::uint64_t x) const {
    using namespace byte_scan;
    return bytes_below(x, 0x20) | bytes_equal(x, '"') | bytes_equal(x, '\\') | bytes_equal(x, 0xED);
  }
  bool stops(unsigned char b) const { return b < 0x20 || b == '"' || b == '\\' || b == 0xED; }
};

char* write_u_escape(char* out, unsigned code) {
  static constexpr char hex[] = "0123456789abcdef";
  std::memcpy(out, "\\u", 2);
  for (int i = 0; i < 4; ++i) out[2 + i] = hex[(code >> (12 - 4 * i)) & 0xF];
  return out + 6;
}

// The text between the quotes, for a piece of WTF-8 cut at code-point boundaries.
char* write_text_body(char* out, std::string_view s) {
  for (std::size_t pos = 0;;) {
    pos = byte_scan::run_until<true>(s, pos, out, NotPlainJson{});
    if (pos == s.size()) return out;
    const auto b = static_cast<unsigned char>(s[pos]);
    if (b == 0xED) {
      // ED A0..BF xx is a lone surrogate (WTF-8). The host's ensure_ascii=False
      // text would hold it raw and could not be encoded as UTF-8; an escape
      // keeps the line valid UTF-8 and reads back to the same text.
      if (pos + 2 < s.size() && (static_cast<unsigned char>(s[pos + 1]) & 0xE0) == 0xA0) {
        out = write_u_escape(out, 0xD000u | (static_cast<unsigned char>(s[pos + 1]) & 0x3Fu) << 6 |
                                      (static_cast<unsigned char>(s[pos + 2]) & 0x3Fu));
        pos += 3;
      } else {
        *out++ = static_cast<char>(b);
        ++pos;
      }
      continue;
    }
    ++pos;
    char short_escape;
    switch (b) {
      case '"':
      case '\\':
        short_escape = static_cast<char>(b);
        break;
      case '\n':
        short_escape = 'n';
        break;
      case '\r':
        short_escape = 'r';
        break;
      case '\t':
        short_escape = 't';
        break;
      case '\b':
        short_escape = 'b';
        break;
      case '\f':
        short_escape = 'f';
        break;
      default:
        out = write_u_escape(out, b);
        continue;
    }
    *out++ = '\\';
    *out++ = short_escape;
  }
}

class Writer : public print::OutputBuffer {
 public:
  using OutputBuffer::OutputBuffer;

  void put_text(std::string_view s) {
    put('"');
    put_sliced(s, max_text_bytes, write_text_body);
    put('"');
  }
  void put_optional_text(std::optional<std::string_view> s) {
    if (s)
      put_text(*s);
    else
      put("null");
  }
  void put_value(const Value& root, Layout layout = Layout::line);

 private:
  struct Frame {
    const Value* value;
    std::size_t next;
    std::size_t order;  // indented objects: where their key order starts in orders_
  };

  void put_scalar(const Value& v);
  void put_line_break(std::size_t depth) {
    char* out = reserve(1 + 2 * depth);
    *out = '\n';
    std::memset(out + 1, ' ', 2 * depth);
    commit(out + 1 + 2 * depth);
  }

  std::vector<Frame> stack_;
  print::KeyOrders orders_;
};

void Writer::put_scalar(const Value& v) {
  switch (v.kind()) {
    case Kind::null:
      put("null");
      break;
    case Kind::boolean:
      put(v.as_bool() ? std::string_view("true") : std::string_view("false"));
      break;
    case Kind::integer:
      commit(repr::write_integer(reserve(repr::max_integer_bytes), v.as_integer()));
      break;
    case Kind::big_integer:
      put(v.as_chars());
      break;
    case Kind::real: {
      // The host's json writes non-finite reals as these tokens, which its decoder reads back.
      double d = v.as_real();
      if (std::isnan(d))
        put("NaN");
      else if (std::isinf(d))
        put(d < 0 ? std::string_view("-Infinity") : std::string_view("Infinity"));
      else
        commit(repr::write_real(reserve(repr::max_real_bytes), d));
      break;
    }
    case Kind::text:
      put_text(v.as_chars());
      break;
    case Kind::array:
      put("[]");
      break;
    case Kind::object:
      put("{}");
      break;
  }
}

void Writer::put_value(const Value& root, Layout layout) {
  const bool indented = layout == Layout::indented;
  auto open = [&](const Value& v) {
    if ((!v.is_array() && !v.is_object()) || v.size() == 0) {
      put_scalar(v);  // [] and {} too
    } else {
      put(v.is_array() ? '[' : '{');
      const std::size_t order = indented && v.is_object() ? orders_.push(v.members()) : 0;
      stack_.push_back({&v, 0, order});
    }
  };
  open(root);
  while (!stack_.empty()) {
    Frame& f = stack_.back();
    const Value& v = *f.value;
    if (f.next == v.size()) {
      if (indented) {
        put_line_break(stack_.size() - 1);
        if (v.is_object()) orders_.pop_to(f.order);
      }
      put(v.is_array() ? ']' : '}');
      stack_.pop_back();
      maybe_flush();  // deep indentation adds up on the way out
      continue;
    }
    if (f.next > 0) put(indented ? std::string_view(",") : std::string_view(", "));
    if (indented) put_line_break(stack_.size());
    const Value* child;
    if (v.is_array()) {
      child = &v.items()[f.next];
    } else {
      const json::Member& m = v.members()[indented ? orders_[f.order + f.next] : f.next];
      put_text(m.key());
      put(": ");
      child = &m.value;
    }
    ++f.next;  // `f` may move once a child is pushed
    open(*child);
    maybe_flush();
  }
}

// `{"file": F, "description": D, ` for both kinds of line.
void put_line_start(Writer& w, std::optional<std::string_view> file, std::optional<std::string_view> description) {
  w.put("{\"file\": ");
  w.put_optional_text(file);
  w.put(", \"description\": ");
  w.put_optional_text(description);
  w.put(", ");
}

}  // namespace

void write_json(const json::Value& value, const std::function<void(std::string_view)>& write) {
  Writer w(write);
  w.put_value(value);
  w.flush();
}

void write_json_indented(const json::Value& value, const std::function<void(std::string_view)>& write) {
  Writer w(write);
  w.put_value(value, Layout::indented);
  w.put('\n');
  w.flush();
}

void write_json_result_line(std::string_view file, std::optional<std::string_view> description,
                            const json::Value& result, const std::function<void(std::string_view)>& write) {
  Writer w(write);
  put_line_start(w, file, description);
  w.put("\"result\": ");
  w.put_value(result);
  w.put("}\n");
  w.flush();
}

void write_json_error_line(std::optional<std::string_view> file, std::optional<std::string_view> description,
                           std::string_view kind, std::string_view message,
                           const std::function<void(std::string_view)>& write) {
  Writer w(write);
  put_line_start(w, file, description);
  w.put("\"error\": {\"kind\": ");
  w.put_text(kind);
  w.put(", \"message\": ");
  w.put_text(message);
  w.put("}}\n");
  w.flush();
}

}  // namespace quillon
