// Widths are counted as the quoted text will show them (escapes included),
// plain ASCII runs by the vector scanners, the rest one code point at a time.
#include "print/text_breaking.hpp"

#include <array>
#include <cstddef>

#include "print/plain_run.hpp"
#include "print/repr.hpp"
#include "text/code_point_set.hpp"
#include "text/unicode.hpp"

namespace quillon::print {
namespace {

// Width of a quoted text, kept as parts so that two pieces can be joined:
// which quote is used (and so whether apostrophes are escaped) depends on
// the whole text.
struct TextWidth {
  std::uint64_t plain = 0;  // every character but the quotes, escapes included
  std::uint64_t singles = 0;
  std::uint64_t doubles = 0;

  std::int64_t quoted() const {
    bool double_quoted = singles != 0 && doubles == 0;
    return static_cast<std::int64_t>(2 + plain + singles + doubles + (double_quoted ? 0 : singles));
  }
  TextWidth& operator+=(const TextWidth& o) {
    plain += o.plain, singles += o.singles, doubles += o.doubles;
    return *this;
  }
  bool empty() const { return plain == 0 && singles == 0 && doubles == 0; }
};

// What cutting a text needs to know of an ASCII character, in one lookup.
struct AsciiClass {
  std::uint8_t width;  // inside the quotes; 0 for the quotes themselves
  bool space;
  bool line_break;
};

const std::array<AsciiClass, 128>& ascii_classes() {
  static const std::array<AsciiClass, 128> classes = [] {
    std::array<AsciiClass, 128> c{};
    for (char32_t cp = 0; cp < 128; ++cp)
      c[cp] = {static_cast<std::uint8_t>(cp == '\'' || cp == '"' ? 0 : repr::char_width(cp)), unicode::is_space(cp),
               unicode::is_line_break(cp)};
    return c;
  }();
  return classes;
}

struct Measured {
  char32_t cp;
  bool space;
  bool line_break;
};

// Adds the code point at `pos` to `w` and advances `pos`.
inline Measured measure_next(TextWidth& w, std::string_view s, std::size_t& pos,
                             const std::array<AsciiClass, 128>& ascii) {
  unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    const AsciiClass& c = ascii[b];
    w.plain += c.width;
    w.singles += b == '\'';
    w.doubles += b == '"';
    return {b, c.space, c.line_break};
  }
  char32_t cp = unicode::next(s, pos);
  w.plain += repr::char_width(cp);
  return {cp, unicode::space_set().contains(cp), unicode::is_line_break(cp)};
}

}  // namespace

void break_text(std::string_view s, std::int64_t room, std::int64_t allowance, std::vector<std::string_view>& chunks) {
  const auto& ascii = ascii_classes();
  for (std::size_t line_begin = 0; line_begin < s.size();) {
    TextWidth line_width;
    std::size_t line_end = line_begin;
    while (line_end < s.size()) {
      std::size_t run_end = repr::plain_run_end(s, line_end, '\\');
      line_width.plain += run_end - line_end;
      line_end = run_end;
      if (line_end == s.size()) break;
      if (measure_next(line_width, s, line_end, ascii).line_break) {
        if (s[line_end - 1] == '\r' && line_end < s.size() && s[line_end] == '\n')
          measure_next(line_width, s, line_end, ascii);
        break;
      }
    }
    const bool last_line = line_end == s.size();
    std::string_view line = s.substr(line_begin, line_end - line_begin);
    if (line_width.quoted() <= room - (last_line ? allowance : 0)) {
      chunks.push_back(line);
    } else {
      std::int64_t limit = room;
      std::size_t current_begin = 0, current_end = 0;
      TextWidth current;
      for (std::size_t pos = 0; pos < line.size();) {
        std::size_t part_begin = pos;
        TextWidth part;
        bool in_space = false;
        while (pos < line.size()) {
          if (!in_space) {  // a word's plain characters, up to a space or anything else
            std::size_t run_end = repr::plain_run_end(line, pos, ' ');
            part.plain += run_end - pos;
            pos = run_end;
            if (pos == line.size()) break;
          }
          std::size_t at = pos;
          TextWidth one;
          bool space = measure_next(one, line, at, ascii).space;
          if (in_space && !space) break;
          in_space = in_space || space;
          part += one;
          pos = at;
        }
        if (pos == line.size() && last_line) limit -= allowance;
        TextWidth joined = current;
        joined += part;
        if (joined.quoted() > limit) {
          if (!current.empty()) chunks.push_back(line.substr(current_begin, current_end - current_begin));
          current = part;
          current_begin = part_begin;
        } else {
          current = joined;
        }
        current_end = pos;
      }
      if (!current.empty()) chunks.push_back(line.substr(current_begin, current_end - current_begin));
    }
    line_begin = line_end;
  }
}

}  // namespace quillon::print
