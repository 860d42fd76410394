// repr of text: the quote the host picks, escapes for what it does not show
// as itself, and the width of each character inside the quotes.
#include <cstring>

#include "print/plain_run.hpp"
#include "print/repr.hpp"
#include "text/code_point_set.hpp"
#include "text/unicode.hpp"

namespace quillon::repr {

namespace {

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
  if (!unicode::printable_set().contains(cp)) return write_escape(out, cp);
  std::memcpy(out, s.data() + start, pos - start);
  return out + (pos - start);
}

}  // namespace

std::size_t char_width(char32_t cp) {
  if (cp < 0x80) {
    if (cp == '\t' || cp == '\n' || cp == '\r' || cp == '\\') return 2;
    return cp < 0x20 || cp == 0x7F ? 4 : 1;
  }
  if (unicode::printable_set().contains(cp)) return 1;
  return cp <= 0xFF ? 4 : cp <= 0xFFFF ? 6 : 10;
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

}  // namespace quillon::repr
