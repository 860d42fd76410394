#include "text/unicode.hpp"

#include <algorithm>
#include <vector>

#include "text/byte_scan.hpp"
#include "text/unicode_tables.hpp"

namespace quillon::unicode {
namespace {

using tables::CodeRange;

bool in_ranges(const CodeRange* ranges, std::size_t count, char32_t cp) {
  const CodeRange* end = ranges + count;
  const CodeRange* it = std::upper_bound(ranges, end, cp, [](char32_t c, const CodeRange& r) { return c < r.first; });
  return it != ranges && cp <= (it - 1)->last;
}

const tables::LowerMapping* find_lower(char32_t cp) {
  const auto* end = tables::lower + tables::lower_count;
  const auto* it =
      std::lower_bound(tables::lower, end, cp, [](const tables::LowerMapping& m, char32_t c) { return m.code < c; });
  return it != end && it->code == cp ? it : nullptr;
}

bool is_case_ignorable(char32_t cp) { return in_ranges(tables::case_ignorable, tables::case_ignorable_count, cp); }
bool is_cased(char32_t cp) { return in_ranges(tables::cased, tables::cased_count, cp); }

// Python's rule for U+03A3: final when a cased letter precedes it and none
// follows, skipping case-ignorable characters on both sides.
bool final_sigma(const std::vector<char32_t>& cps, std::size_t i) {
  std::size_t j = i;
  while (j > 0 && is_case_ignorable(cps[j - 1])) --j;
  if (j == 0 || !is_cased(cps[j - 1])) return false;
  std::size_t k = i + 1;
  while (k < cps.size() && is_case_ignorable(cps[k])) ++k;
  return k == cps.size() || !is_cased(cps[k]);
}

}  // namespace

void append(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t length(std::string_view s) { return s.size() - byte_scan::count_continuation_bytes(s.data(), s.size()); }

bool is_space(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D) || (cp >= 0x1C && cp <= 0x1F);
  return in_ranges(tables::space, tables::space_count, cp);
}

bool is_printable(char32_t cp) {
  if (cp < 0x80) return cp >= 0x20 && cp < 0x7F;
  return in_ranges(tables::printable, tables::printable_count, cp);
}

bool is_line_break(char32_t cp) {
  switch (cp) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x1C:
    case 0x1D:
    case 0x1E:
    case 0x85:
    case 0x2028:
    case 0x2029:
      return true;
    default:
      return false;
  }
}

bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

bool has_surrogate(std::string_view s) {
  // In WTF-8 a surrogate is ED A0..BF xx.
  for (std::size_t i = 0; i + 1 < s.size(); ++i)
    if (static_cast<unsigned char>(s[i]) == 0xED && static_cast<unsigned char>(s[i + 1]) >= 0xA0) return true;
  return false;
}

std::string lower(std::string_view s) {
  bool ascii = std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string out;
  out.reserve(s.size());
  if (ascii) {
    for (char c : s) out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    return out;
  }
  std::vector<char32_t> cps;
  for (std::size_t pos = 0; pos < s.size();) cps.push_back(next(s, pos));
  for (std::size_t i = 0; i < cps.size(); ++i) {
    char32_t cp = cps[i];
    if (cp == 0x03A3) {
      append(out, final_sigma(cps, i) ? 0x03C2 : 0x03C3);
    } else if (const auto* m = find_lower(cp)) {
      for (int k = 0; k < m->length; ++k) append(out, m->lower[k]);
    } else {
      append(out, cp);
    }
  }
  return out;
}

std::string_view rstrip(std::string_view s) {
  std::size_t end = s.size();
  while (end > 0) {
    std::size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    std::size_t pos = start;
    if (!is_space(next(s, pos))) break;
    end = start;
  }
  return s.substr(0, end);
}

std::string_view strip(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size()) {
    std::size_t pos = begin;
    if (!is_space(next(s, pos))) break;
    begin = pos;
  }
  return rstrip(s.substr(begin));
}

namespace {

// Length of the well-formed UTF-8 sequence at `i`, or 0 when it is malformed;
// `maximal` receives the length of the maximal ill-formed subpart to replace.
std::size_t valid_sequence(std::string_view b, std::size_t i, std::size_t& maximal) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(b[k]); };
  unsigned char c = at(i);
  maximal = 1;
  if (c < 0x80) return 1;
  int n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF)
    n = 1;
  else if (c == 0xE0)
    n = 2, lo = 0xA0;
  else if (c >= 0xE1 && c <= 0xEC)
    n = 2;
  else if (c == 0xED)
    n = 2, hi = 0x9F;
  else if (c >= 0xEE && c <= 0xEF)
    n = 2;
  else if (c == 0xF0)
    n = 3, lo = 0x90;
  else if (c >= 0xF1 && c <= 0xF3)
    n = 3;
  else if (c == 0xF4)
    n = 3, hi = 0x8F;
  else
    return 0;
  for (int k = 1; k <= n; ++k) {
    if (i + k >= b.size()) return 0;
    unsigned char t = at(i + k);
    if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) return 0;
    maximal = k + 1;
  }
  return n + 1;
}

}  // namespace

std::size_t first_invalid_utf8(std::string_view b) {
  for (std::size_t i = 0; i < b.size();) {
    if (static_cast<unsigned char>(b[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t maximal;
    std::size_t n = valid_sequence(b, i, maximal);
    if (n == 0) return i;
    i += n;
  }
  return std::string_view::npos;
}

// Copies valid UTF-8 through; `on_invalid(out, i, maximal)` writes what
// stands for the malformed sequence at `i` and says how many bytes it used.
template <typename OnInvalid>
std::string rewrite_invalid_utf8(std::string_view b, OnInvalid on_invalid) {
  std::string out;
  out.reserve(b.size() + 16);
  for (std::size_t i = 0; i < b.size();) {
    std::size_t maximal;
    std::size_t n = valid_sequence(b, i, maximal);
    if (n) {
      out.append(b.data() + i, n);
      i += n;
    } else {
      i += on_invalid(out, i, maximal);
    }
  }
  return out;
}

std::string repair_utf8(std::string_view b) {
  return rewrite_invalid_utf8(b, [](std::string& out, std::size_t, std::size_t maximal) {
    out += "\xEF\xBF\xBD";
    return maximal;
  });
}

std::string escape_invalid_utf8(std::string_view b) {
  return rewrite_invalid_utf8(b, [&](std::string& out, std::size_t i, std::size_t) {
    append(out, 0xDC00 + static_cast<unsigned char>(b[i]));
    return std::size_t{1};
  });
}

std::string unescape_surrogates(std::string_view s) {
  if (!has_surrogate(s)) return std::string(s);
  std::string out;
  for (std::size_t pos = 0; pos < s.size();) {
    std::size_t start = pos;
    char32_t cp = next(s, pos);
    if (cp >= 0xDC80 && cp <= 0xDCFF)
      out += static_cast<char>(cp - 0xDC00);
    else
      out.append(s.substr(start, pos - start));
  }
  return out;
}

namespace {

void append_hex(std::string& out, char prefix, unsigned value, int digits) {
  static constexpr char hex[] = "0123456789abcdef";
  out += '\\';
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += hex[(value >> shift) & 15];
}

}  // namespace

std::string escape_controls(std::string_view b) {
  std::string out;
  out.reserve(b.size());
  for (std::size_t i = 0; i < b.size();) {
    std::size_t maximal;
    const std::size_t n = valid_sequence(b, i, maximal);
    if (n == 0) {
      // WTF-8 of a surrogate: ED A0..BF 80..BF.
      const bool surrogate = i + 2 < b.size() && static_cast<unsigned char>(b[i]) == 0xED &&
                             (static_cast<unsigned char>(b[i + 1]) & 0xE0) == 0xA0 &&
                             (static_cast<unsigned char>(b[i + 2]) & 0xC0) == 0x80;
      if (!surrogate) {
        append_hex(out, 'x', static_cast<unsigned char>(b[i]), 2);
        ++i;
        continue;
      }
      std::size_t pos = i;
      const char32_t cp = next(b, pos);
      if (cp >= 0xDC80 && cp <= 0xDCFF)
        append_hex(out, 'x', cp - 0xDC00, 2);  // a byte the system gave that is not UTF-8
      else
        append_hex(out, 'u', cp, 4);
      i = pos;
      continue;
    }
    std::size_t pos = i;
    const char32_t cp = next(b, pos);
    if (cp == '\n')
      out += "\\n";
    else if (cp == '\r')
      out += "\\r";
    else if (cp == '\t')
      out += "\\t";
    else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
      append_hex(out, 'x', cp, 2);
    else
      out.append(b.substr(i, n));
    i += n;
  }
  return out;
}

}  // namespace quillon::unicode
