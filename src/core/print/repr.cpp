#include "print/repr.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/unicode.hpp"
#include "text/unicode_tables.hpp"

namespace quillon::repr {

char* write_integer(char* out, std::int64_t i) { return std::to_chars(out, out + max_integer_bytes, i).ptr; }

void append_integer(std::string& out, std::int64_t i) {
  char buf[max_integer_bytes];
  out.append(buf, write_integer(buf, i));
}

char* write_real(char* out, double d) {
  auto put = [&out](std::string_view s) {
    std::memcpy(out, s.data(), s.size());
    out += s.size();
  };
  if (std::isnan(d)) {
    put("nan");
    return out;
  }
  if (std::signbit(d)) *out++ = '-';
  if (std::isinf(d)) {
    put("inf");
    return out;
  }
  if (d == 0) {
    put("0.0");
    return out;
  }
  // The shortest round-trip digits ("d.ddde+XX"), then the host's choice of notation.
  char sci[32];
  char* sci_end = std::to_chars(sci, sci + sizeof sci, std::fabs(d), std::chars_format::scientific).ptr;
  const char* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<std::size_t>(sci_end - sci)));
  char digits[20];
  int n = 0;
  for (const char* c = sci; c < e; ++c)
    if (*c != '.') digits[n++] = *c;
  int exponent = 0;
  for (const char* c = e + 2; c < sci_end; ++c) exponent = exponent * 10 + (*c - '0');
  if (e[1] == '-') exponent = -exponent;

  if (exponent >= -4 && exponent <= 15) {
    int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
      put("0.");
      std::memset(out, '0', static_cast<std::size_t>(-point));
      out += -point;
      put({digits, static_cast<std::size_t>(n)});
    } else if (point >= n) {
      put({digits, static_cast<std::size_t>(n)});
      std::memset(out, '0', static_cast<std::size_t>(point - n));
      out += point - n;
      put(".0");
    } else {
      put({digits, static_cast<std::size_t>(point)});
      *out++ = '.';
      put({digits + point, static_cast<std::size_t>(n - point)});
    }
    return out;
  }
  *out++ = digits[0];
  if (n > 1) {
    *out++ = '.';
    put({digits + 1, static_cast<std::size_t>(n - 1)});
  }
  put(exponent < 0 ? "e-" : "e+");
  int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) *out++ = '0';
  return write_integer(out, magnitude);
}

void append_real(std::string& out, double d) {
  char buf[max_real_bytes];
  out.append(buf, write_real(buf, d));
}

namespace {

// Printable code points of the Basic Multilingual Plane as a bit set built
// once from the range table: one load instead of a binary search per character.
class PrintableBmp {
 public:
  PrintableBmp() {
    for (std::size_t i = 0; i < unicode::tables::printable_count; ++i) {
      const auto& r = unicode::tables::printable[i];
      for (char32_t c = r.first; c <= r.last && c < 0x10000; ++c) bits_[c >> 6] |= std::uint64_t{1} << (c & 63);
    }
  }
  bool contains(char32_t cp) const { return (bits_[cp >> 6] >> (cp & 63)) & 1; }

 private:
  std::array<std::uint64_t, 1024> bits_{};
};

bool printable_beyond_ascii(char32_t cp) {
  if (cp < 0x10000) {
    static const PrintableBmp bmp;
    return bmp.contains(cp);
  }
  return unicode::is_printable(cp);
}

const char hex_digits[] = "0123456789abcdef";

// The escape of a code point repr(str) does not show as itself (never a quote or backslash).
char* write_escape(char* out, char32_t cp) {
  *out++ = '\\';
  switch (cp) {
    case '\t':
      *out++ = 't';
      return out;
    case '\n':
      *out++ = 'n';
      return out;
    case '\r':
      *out++ = 'r';
      return out;
    default:
      break;
  }
  int digits = cp <= 0xFF ? 2 : cp <= 0xFFFF ? 4 : 8;
  *out++ = cp <= 0xFF ? 'x' : cp <= 0xFFFF ? 'u' : 'U';
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out++ = hex_digits[(cp >> shift) & 0xF];
  return out;
}

bool plain_ascii(unsigned char b, char q1, char q2) {
  return b >= 0x20 && b < 0x7F && b != '\\' && b != static_cast<unsigned char>(q1) &&
         b != static_cast<unsigned char>(q2);
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Flags the bytes of `x` that end a plain run. Only the first flag (lowest
// byte) is exact: a borrow can only come from a flagged byte below.
inline std::uint64_t special_bytes(std::uint64_t x, char q1, char q2) {
  constexpr std::uint64_t ones = 0x0101010101010101u, high = 0x8080808080808080u;
  auto zero = [](std::uint64_t t) { return (t - ones) & ~t & high; };
  return zero(x ^ (ones * '\\')) | zero(x ^ (ones * static_cast<unsigned char>(q1))) |
         zero(x ^ (ones * static_cast<unsigned char>(q2))) | zero(x ^ (ones * 0x7F)) | ((x - ones * 0x20) & ~x & high) |
         (x & high);
}
#endif

// Copies the run of printable ASCII at `pos` that holds neither backslash nor
// q1/q2, 16 or 8 bytes at a time where it can; the output has room for 4
// bytes per input byte and 16 more, so a whole block may be stored before the
// run's end is known.
void copy_plain(std::string_view s, std::size_t& pos, char*& out, char q1, char q2) {
  const std::size_t n = s.size();
  const char* in = s.data();
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x20);  // signed: bytes >= 0x80 are below too
  const __m128i del = _mm_set1_epi8(0x7F), backslash = _mm_set1_epi8('\\');
  const __m128i quote1 = _mm_set1_epi8(q1), quote2 = _mm_set1_epi8(q2);
  while (n - pos >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + pos));
    __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_cmplt_epi8(v, below), _mm_cmpeq_epi8(v, del)),
        _mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_or_si128(_mm_cmpeq_epi8(v, quote1), _mm_cmpeq_epi8(v, quote2))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) {
      unsigned k = static_cast<unsigned>(__builtin_ctz(mask));
      pos += k;
      out += k;
      return;
    }
    pos += 16;
    out += 16;
  }
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (n >= 8) {
    while (pos < n) {
      // The last word of a text overlaps what is done: its first `back` bytes were plain.
      std::size_t at = std::min(pos, n - 8), back = pos - at;
      std::uint64_t x;
      std::memcpy(&x, in + at, 8);
      x >>= 8 * back;  // the bytes shifted in are zero, so flagged: the run cannot pass the end
      std::uint64_t special = special_bytes(x, q1, q2);
      std::memcpy(out, &x, 8);
      std::size_t plain = special ? static_cast<std::size_t>(__builtin_ctzll(special)) / 8 : 8 - back;
      pos += plain;
      out += plain;
      if (special) return;
    }
    return;
  }
#endif
  while (pos < n && plain_ascii(static_cast<unsigned char>(in[pos]), q1, q2)) *out++ = in[pos++];
}

// Writes the character at `pos` that copy_plain stopped at (not a quote) and advances `pos`.
char* write_special(char* out, std::string_view s, std::size_t& pos) {
  unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b == '\\') {
    ++pos;
    *out++ = '\\';
    *out++ = '\\';
    return out;
  }
  if (b < 0x80) {
    ++pos;
    return write_escape(out, b);
  }
  std::size_t start = pos;
  char32_t cp = unicode::next(s, pos);
  if (!printable_beyond_ascii(cp)) return write_escape(out, cp);
  std::memcpy(out, s.data() + start, pos - start);
  return out + (pos - start);
}

}  // namespace

std::size_t char_width(char32_t cp) {
  if (cp < 0x80) {
    if (cp == '\t' || cp == '\n' || cp == '\r' || cp == '\\') return 2;
    return cp < 0x20 || cp == 0x7F ? 4 : 1;
  }
  if (printable_beyond_ascii(cp)) return 1;
  return cp <= 0xFF ? 4 : cp <= 0xFFFF ? 6 : 10;
}

std::size_t plain_run_end(std::string_view s, std::size_t pos, char also) {
  const std::size_t n = s.size();
  const char* in = s.data();
#if defined(__SSE2__)
  const __m128i below = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F), backslash = _mm_set1_epi8('\\');
  const __m128i single = _mm_set1_epi8('\''), dbl = _mm_set1_epi8('"'), extra = _mm_set1_epi8(also);
  for (; n - pos >= 16; pos += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + pos));
    __m128i special = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(v, below), _mm_cmpeq_epi8(v, del)), _mm_cmpeq_epi8(v, backslash)),
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, single), _mm_cmpeq_epi8(v, dbl)), _mm_cmpeq_epi8(v, extra)));
    if (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special)))
      return pos + static_cast<std::size_t>(__builtin_ctz(mask));
  }
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (n >= 8) {
    constexpr std::uint64_t ones = 0x0101010101010101u, high = 0x8080808080808080u;
    while (pos < n) {
      // As in copy_plain: the last word overlaps bytes already known to be plain.
      std::size_t at = std::min(pos, n - 8), back = pos - at;
      std::uint64_t x;
      std::memcpy(&x, in + at, 8);
      x >>= 8 * back;
      std::uint64_t t = x ^ (ones * static_cast<unsigned char>(also));
      std::uint64_t special = special_bytes(x, '\'', '"') | ((t - ones) & ~t & high);
      if (special) return pos + static_cast<std::size_t>(__builtin_ctzll(special)) / 8;
      pos += 8 - back;
    }
    return pos;
  }
#endif
  while (pos < n && plain_ascii(static_cast<unsigned char>(in[pos]), '\'', '"') && in[pos] != also) ++pos;
  return pos;
}

char quote_for(std::string_view s) {
  bool has_single = s.find('\'') != std::string_view::npos;
  return has_single && s.find('"') == std::string_view::npos ? '"' : '\'';
}

char* write_text_body(char* out, std::string_view s, char quote) {
  for (std::size_t pos = 0;;) {
    copy_plain(s, pos, out, quote, quote);
    if (pos == s.size()) return out;
    if (s[pos] == quote) {
      *out++ = '\\';
      *out++ = quote;
      ++pos;
    } else {
      out = write_special(out, s, pos);
    }
  }
}

char* write_text(char* out, std::string_view s) {
  // One pass: start with the apostrophe and switch the opening quote to '"'
  // at the first apostrophe if no '"' follows (none came before, or the
  // choice would already be made); nothing written so far depends on it.
  char* open = out;
  *out++ = '\'';
  char quote = '\'';
  bool decided = false;
  for (std::size_t pos = 0;;) {
    copy_plain(s, pos, out, quote, decided ? quote : '"');
    if (pos == s.size()) break;
    char c = s[pos];
    if (c == '\'' || c == '"') {
      if (!decided) {
        decided = true;
        if (c == '\'' && std::memchr(s.data() + pos + 1, '"', s.size() - pos - 1) == nullptr) quote = *open = '"';
      }
      if (c == quote) *out++ = '\\';
      *out++ = c;
      ++pos;
    } else {
      out = write_special(out, s, pos);
    }
  }
  *out++ = quote;
  return out;
}

void append_text(std::string& out, std::string_view s) {
  std::size_t old = out.size();
  out.resize(old + max_text_bytes(s.size()));
  char* end = write_text(out.data() + old, s);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

namespace {

void append_scalar(std::string& out, const json::Value& v) {
  switch (v.kind()) {
    case json::Kind::null:
      out += "None";
      break;
    case json::Kind::boolean:
      out += v.as_bool() ? "True" : "False";
      break;
    case json::Kind::integer:
      append_integer(out, v.as_integer());
      break;
    case json::Kind::big_integer:
      out += v.as_chars();
      break;
    case json::Kind::real:
      append_real(out, v.as_real());
      break;
    case json::Kind::text:
      append_text(out, v.as_chars());
      break;
    case json::Kind::array:
    case json::Kind::object:
      break;
  }
}

// One open container of the walk; `order` is where its member order starts
// in the shared order buffer (objects with sorted keys only).
struct Frame {
  const json::Value* value;
  std::size_t next;
  std::size_t order;
};

}  // namespace

void append_key_order(std::span<const json::Member> members, std::vector<std::uint32_t>& order) {
  const auto begin = static_cast<std::ptrdiff_t>(order.size());
  for (std::uint32_t i = 0; i < members.size(); ++i) order.push_back(i);
  // WTF-8 byte order is code-point order, lone surrogates included.
  auto by_key = [&](std::uint32_t a, std::uint32_t b) { return members[a].key < members[b].key; };
  auto lo = order.begin() + begin, hi = order.end();
  if (hi - lo <= 16) {
    // Records are small objects: insertion sort beats the merge sort's set-up.
    for (auto it = lo; it != hi; ++it)
      for (auto j = it; j != lo && by_key(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
  } else {
    std::stable_sort(lo, hi, by_key);
  }
}

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
    if (v.is_object() && sort_keys) append_key_order(v.members(), order);
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
