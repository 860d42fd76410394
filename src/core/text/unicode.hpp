// Text as the Python host sees it: code points, its white space, its
// printable characters, its line ends and its lower-casing. Text is held as
// WTF-8 (UTF-8 that may also encode lone surrogates, U+D800..U+DFFF).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillon::unicode {

// Decodes the code point at `pos` of well-formed WTF-8 and advances `pos`.
inline char32_t next(std::string_view s, std::size_t& pos) {
  unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    return b;
  }
  std::size_t n = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
  char32_t cp = b & (0x3F >> n);
  for (std::size_t i = 1; i <= n && pos + i < s.size(); ++i)
    cp = (cp << 6) | (static_cast<unsigned char>(s[pos + i]) & 0x3F);
  // A sequence cut off by the end of the text must not carry `pos` past it.
  pos = pos + n + 1 < s.size() ? pos + n + 1 : s.size();
  return cp;
}

void append(std::string& out, char32_t cp);  // WTF-8 encoding of one code point
std::size_t length(std::string_view wtf8);   // number of code points

bool is_space(char32_t cp);       // str.isspace
bool is_printable(char32_t cp);   // str.isprintable
bool is_line_break(char32_t cp);  // a line end for str.splitlines
bool is_surrogate(char32_t cp);
bool has_surrogate(std::string_view wtf8);

std::string lower(std::string_view wtf8);        // str.lower, final sigma included
std::string_view strip(std::string_view wtf8);   // str.strip()
std::string_view rstrip(std::string_view wtf8);  // str.rstrip()

// Index of the first byte that is not well-formed UTF-8 (surrogates count as
// malformed), or npos when all of `bytes` is valid.
std::size_t first_invalid_utf8(std::string_view bytes);
// `bytes` with every malformed sequence replaced by U+FFFD, as Python's
// bytes.decode('utf-8', 'replace') does.
std::string repair_utf8(std::string_view bytes);

// Bytes from the system (command-line arguments) as text the way the host
// reads them: every byte that is not part of valid UTF-8 becomes the lone
// surrogate U+DC00 + byte ("surrogateescape").
std::string escape_invalid_utf8(std::string_view bytes);
// The reverse: such surrogates back to their bytes, for paths and the wire.
std::string unescape_surrogates(std::string_view wtf8);

// Text from outside (an answer, a header, a URL, a file name) made safe for
// one line of a terminal or log: control characters (C0, DEL, C1) written as
// the host's repr writes them (\n, \t, \r, \x1b, \x9b), a byte that is not
// UTF-8 as \xNN (a surrogate-escaped byte too), a lone surrogate as \udXXX.
// Everything else, backslashes included, stays as it is.
std::string escape_controls(std::string_view text);

}  // namespace quillon::unicode
