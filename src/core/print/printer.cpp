// One pass over the value. A container is first written flat, on trial: the
// trial gives up as soon as its width passes the room left on the line, and
// the container is then opened and its elements laid out one per line. The
// elements the trial completed are kept and copied back wherever they fit
// their own line, so a record that just misses its line is not rendered twice.
//
// The host re-renders a subtree at every level it descends through; the
// output is the same, but here a trial costs at most about one line, and the
// text is streamed out in buffered pieces. Every walk is iterative, so that
// nesting depth is bounded by memory, not the stack.
#include "print/printer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "print/repr.hpp"
#include "text/unicode.hpp"
#include "text/unicode_tables.hpp"

namespace quillon {
namespace {

using json::Kind;
using json::Member;
using json::Value;

bool is_container(const Value& v) { return v.is_array() || v.is_object(); }

// Bytes 10xxxxxx among `n`, eight at a time.
std::int64_t continuation_bytes(const char* p, std::size_t n) {
  constexpr std::uint64_t high_bits = 0x8080808080808080u, ones = 0x0101010101010101u;
  std::int64_t count = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, p + i, 8);
    std::uint64_t flags = (x & ~(x << 1) & high_bits) >> 7;  // one per continuation byte
    count += static_cast<std::int64_t>((flags * ones) >> 56);
  }
  for (; i < n; ++i) count += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
  return count;
}

// Code points in UTF-8 bytes.
std::int64_t width_of(const char* p, std::size_t n) { return static_cast<std::int64_t>(n) - continuation_bytes(p, n); }

// Whether UTF-8 bytes are at most `room` code points wide; most are ASCII
// and narrower in bytes already.
bool fits(const char* p, std::size_t n, std::int64_t room) {
  return static_cast<std::int64_t>(n) <= room || width_of(p, n) <= room;
}

// The key orders of the open objects, on a stack. The records of an answer
// repeat the same keys, and the decoder and the filter store each key's text
// once, so an object whose keys are the very same strings as a recent
// object's reuses that object's sorted order.
class KeyOrders {
 public:
  // Pushes the member indices of `members` in key order; returns where they start.
  std::size_t push(std::span<const Member> members) {
    std::size_t begin = stack_.size();
    for (const Recent& r : recent_) {
      if (r.members.size() == members.size() && same_keys(r.members, members)) {
        stack_.insert(stack_.end(), r.order.begin(), r.order.end());
        return begin;
      }
    }
    repr::append_key_order(members, stack_);
    Recent& r = recent_[next_];
    next_ = (next_ + 1) % recent_.size();
    r.members = members;
    r.order.assign(stack_.begin() + static_cast<std::ptrdiff_t>(begin), stack_.end());
    return begin;
  }
  void pop_to(std::size_t begin) { stack_.resize(begin); }
  std::size_t size() const { return stack_.size(); }
  std::uint32_t operator[](std::size_t i) const { return stack_[i]; }

 private:
  struct Recent {
    std::span<const Member> members;
    std::vector<std::uint32_t> order;
  };
  static bool same_keys(std::span<const Member> a, std::span<const Member> b) {
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i].key.data() != b[i].key.data() || a[i].key.size() != b[i].key.size()) return false;
    return !a.empty();
  }

  std::vector<std::uint32_t> stack_;
  std::array<Recent, 4> recent_{};
  std::size_t next_ = 0;
};

// The output buffer, written through raw pointers after one capacity check
// per piece, and handed over in pieces of about `flush_size` bytes.
class Output {
 public:
  static constexpr std::size_t flush_size = 64 * 1024;

  explicit Output(const std::function<void(std::string_view)>& write) : write_(write) {
    buffer_.resize(flush_size + 4096);
  }

  // A pointer to at least `n` writable bytes at the end; `commit` says how far they were used.
  char* reserve(std::size_t n) {
    if (buffer_.size() - size_ < n) buffer_.resize(std::max(2 * buffer_.size(), size_ + n));
    return buffer_.data() + size_;
  }
  void commit(char* end) { size_ = static_cast<std::size_t>(end - buffer_.data()); }

  void put(char c) {
    *reserve(1) = c;
    ++size_;
  }
  void put(std::string_view s) {
    std::memcpy(reserve(s.size()), s.data(), s.size());
    size_ += s.size();
  }
  void put_line_break(std::int64_t indent) {
    std::size_t n = static_cast<std::size_t>(indent);
    char* p = reserve(n + 1);
    *p = '\n';
    std::memset(p + 1, ' ', n);
    size_ += n + 1;
  }
  void put_scalar(const Value& v);
  // "'key': "; returns its width.
  std::int64_t put_key(std::string_view key);
  void put_text(std::string_view s) { commit(repr::write_text(reserve(repr::max_text_bytes(s.size())), s)); }
  // The same, but a long text goes out in slices, with the buffer handed over between them.
  void put_text_streamed(std::string_view s);

  std::size_t size() const { return size_; }
  const char* data() const { return buffer_.data(); }
  void truncate(std::size_t size) { size_ = size; }
  void flush() {
    if (size_ != 0) write_(std::string_view(buffer_.data(), size_));
    size_ = 0;
  }
  void maybe_flush() {
    if (size_ >= flush_size) flush();
  }

 private:
  // Rendered keys by the identity of their text: objects of one shape share
  // their key strings, so most keys are rendered once per print.
  struct KeyText {
    static constexpr std::size_t longest = 15;  // whose rendering fits `text`
    const char* key = nullptr;
    std::size_t size = SIZE_MAX;  // matches no key, the empty one at nullptr included
    std::uint32_t bytes = 0;
    std::int32_t width = 0;
    char text[repr::max_text_bytes(longest) + 2];
  };
  static constexpr std::size_t key_slots = 256;

  const std::function<void(std::string_view)>& write_;
  std::string buffer_;
  std::size_t size_ = 0;
  std::vector<KeyText> keys_ = std::vector<KeyText>(key_slots);
};

std::int64_t Output::put_key(std::string_view key) {
  if (key.size() > KeyText::longest) {
    std::size_t before = size_;
    put_text(key);
    put(": ");
    return width_of(buffer_.data() + before, size_ - before);
  }
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(key.data());
  KeyText& k = keys_[((address * 0x9E3779B97F4A7C15u) >> 56) % key_slots];
  if (k.key != key.data() || k.size != key.size()) {
    char* end = repr::write_text(k.text, key);
    *end++ = ':';
    *end++ = ' ';
    k.key = key.data();
    k.size = key.size();
    k.bytes = static_cast<std::uint32_t>(end - k.text);
    k.width = static_cast<std::int32_t>(width_of(k.text, k.bytes));
  }
  std::memcpy(reserve(sizeof k.text), k.text, sizeof k.text);
  size_ += k.bytes;
  return k.width;
}

void Output::put_scalar(const Value& v) {
  switch (v.kind()) {
    case Kind::null:
      put("None");
      break;
    case Kind::boolean:
      put(v.as_bool() ? std::string_view("True") : std::string_view("False"));
      break;
    case Kind::integer:
      commit(repr::write_integer(reserve(repr::max_integer_bytes), v.as_integer()));
      break;
    case Kind::big_integer:
      put(v.as_chars());
      break;
    case Kind::real:
      commit(repr::write_real(reserve(repr::max_real_bytes), v.as_real()));
      break;
    case Kind::text:
      put_text(v.as_chars());
      break;
    case Kind::array:
    case Kind::object:
      break;
  }
}

void Output::put_text_streamed(std::string_view s) {
  constexpr std::size_t slice = 16 * 1024;
  if (s.size() <= 4 * slice) {
    put_text(s);
    return;
  }
  const char quote = repr::quote_for(s);
  put(quote);
  while (!s.empty()) {
    std::size_t n = std::min(slice, s.size());
    while (n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) ++n;  // whole code points
    commit(repr::write_text_body(reserve(repr::max_text_bytes(n)), s.substr(0, n), quote));
    s.remove_prefix(n);
    maybe_flush();
  }
  put(quote);
}

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

// White space beyond ASCII, for cutting texts into words: the Basic
// Multilingual Plane as a bit set built once from the range table.
bool is_space_beyond_ascii(char32_t cp) {
  if (cp >= 0x10000) return unicode::is_space(cp);
  static const std::array<std::uint64_t, 1024> bits = [] {
    std::array<std::uint64_t, 1024> b{};
    for (std::size_t i = 0; i < unicode::tables::space_count; ++i)
      for (char32_t c = unicode::tables::space[i].first; c <= unicode::tables::space[i].last && c < 0x10000; ++c)
        b[c >> 6] |= std::uint64_t{1} << (c & 63);
    return b;
  }();
  return (bits[cp >> 6] >> (cp & 63)) & 1;
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
  return {cp, is_space_beyond_ascii(cp), unicode::is_line_break(cp)};
}

// Where a completed element of a trial lies: its key (objects) from `begin`
// to `value`, its value from `value` to `end`.
struct Piece {
  std::size_t begin, value, end;
  std::int64_t key_width;  // of "'key': "
};
constexpr std::size_t incomplete = SIZE_MAX;

class Printer {
 public:
  Printer(const std::function<void(std::string_view)>& write, int width) : out_(write), width_(width) {}

  void print(const Value& root) {
    place(root, 0, 0, true);
    while (!open_.empty()) step();
    out_.put('\n');
    out_.flush();
  }

 private:
  // A container laid out one element per line. Its first `kept` elements
  // have their flat text in `kept_` (from its failed trial).
  struct Frame {
    const Value* value;
    std::size_t order;  // objects: where their key order starts in `orders_`
    std::size_t next;
    std::int64_t indent;          // of the elements
    std::int64_t last_allowance;  // of the last element
    std::size_t pieces;           // first of its pieces in `kept_pieces_`
    std::size_t kept;             // how many
    std::size_t kept_text;        // where its text starts in `kept_`
  };
  // A container inside a trial.
  struct Flat {
    const Value* value;
    std::size_t order;
    std::size_t next;
  };

  const Member& member(const Value& object, std::size_t order, std::size_t i) const {
    return object.members()[orders_[order + i]];
  }
  const Value& element(const Value& v, std::size_t order, std::size_t i) const {
    return v.is_array() ? v.items()[i] : member(v, order, i).value;
  }

  // Lays out `v` at column `indent` with `allowance` characters to follow it.
  void place(const Value& v, std::int64_t indent, std::int64_t allowance, bool top) {
    const std::int64_t room = width_ - indent - allowance;
    if (is_container(v)) {
      if (v.size() == 0) {
        out_.put(v.is_array() ? "[]" : "{}");
        return;
      }
      std::size_t order = v.is_object() ? orders_.push(v.members()) : 0;
      std::size_t mark = out_.size();
      trial_pieces_.clear();
      if (write_flat(v, order, room)) {
        if (v.is_object()) orders_.pop_to(order);
      } else {
        open(v, order, indent, allowance, keep_trial(mark));
      }
    } else if (v.is_text()) {
      std::string_view s = v.as_chars();
      // Its quoted width is at least a quarter of its bytes, plus the quotes.
      if (static_cast<std::int64_t>(s.size() / 4 + 2) > room) {
        write_text_broken(s, indent, allowance, top);
      } else {
        std::size_t mark = out_.size();
        out_.put_text(s);
        if (!fits(out_.data() + mark, out_.size() - mark, room)) {
          out_.truncate(mark);
          write_text_broken(s, indent, allowance, top);
        }
      }
    } else {
      out_.put_scalar(v);
    }
    out_.maybe_flush();
  }

  struct Kept {
    std::size_t pieces = 0, count = 0, text = 0;
  };

  void open(const Value& v, std::size_t order, std::int64_t indent, std::int64_t allowance, Kept kept) {
    out_.put(v.is_array() ? '[' : '{');
    open_.push_back({&v, order, 0, indent + 1, allowance + 1, kept.pieces, kept.count, kept.text});
  }

  // Moves the completed elements of the failed trial written from `mark`
  // into `kept_` and takes the trial back out of the output.
  Kept keep_trial(std::size_t mark) {
    Kept kept{kept_pieces_.size(), 0, kept_.size()};
    while (!trial_pieces_.empty() && trial_pieces_.back().end == incomplete) trial_pieces_.pop_back();
    if (!trial_pieces_.empty()) {
      kept_.append(out_.data() + mark, trial_pieces_.back().end - mark);
      for (Piece p : trial_pieces_)
        kept_pieces_.push_back(
            {p.begin - mark + kept.text, p.value - mark + kept.text, p.end - mark + kept.text, p.key_width});
      kept.count = trial_pieces_.size();
    }
    out_.truncate(mark);
    return kept;
  }

  // Writes the next element of the innermost open container.
  void step() {
    Frame& f = open_.back();
    const Value& v = *f.value;
    if (f.next == v.size()) {
      out_.put(v.is_array() ? ']' : '}');
      if (v.is_object()) orders_.pop_to(f.order);
      kept_pieces_.resize(f.pieces);
      kept_.resize(f.kept_text);
      open_.pop_back();
      return;
    }
    if (f.next > 0) {
      out_.put(',');
      out_.put_line_break(f.indent);
    }
    const std::size_t i = f.next++;  // `f` may move once a child is opened
    const std::int64_t allowance = i + 1 == v.size() ? f.last_allowance : 1;
    std::int64_t indent = f.indent;
    const Value& child = element(v, f.order, i);
    if (i < f.kept) {
      const Piece p = kept_pieces_[f.pieces + i];
      const char* kept = kept_.data();
      indent += p.key_width;
      if ((!is_container(child) && !child.is_text()) ||
          fits(kept + p.value, p.end - p.value, width_ - indent - allowance)) {
        out_.put({kept + p.begin, p.end - p.begin});
      } else {
        out_.put({kept + p.begin, p.value - p.begin});
        // Known not to fit its line: no trial.
        if (child.is_text()) {
          write_text_broken(child.as_chars(), indent, allowance, false);
        } else {
          std::size_t order = child.is_object() ? orders_.push(child.members()) : 0;
          open(child, order, indent, allowance, Kept{kept_pieces_.size(), 0, kept_.size()});
        }
      }
      out_.maybe_flush();
      return;
    }
    if (v.is_object()) indent += out_.put_key(member(v, f.order, i).key);
    place(child, indent, allowance, false);
  }

  // The flat form of a nonempty container, members in key order, as long as
  // its width stays within `room`; false when it does not. The completed
  // elements of `root` are noted in `trial_pieces_`.
  bool write_flat(const Value& root, std::size_t root_order, std::int64_t room) {
    if (room < 3) return false;  // "[x]" is the narrowest
    const std::size_t mark = out_.size();
    std::size_t counted = mark;
    std::int64_t continuation = 0;  // bytes in [mark, counted) that continue a code point
    // Width so far at least, without counting what is new.
    auto used = [&] { return static_cast<std::int64_t>(counted - mark) - continuation; };
    auto too_wide = [&] {
      std::size_t size = out_.size();
      if (static_cast<std::int64_t>(size - mark) <= room) return false;
      continuation += continuation_bytes(out_.data() + counted, size - counted);
      counted = size;
      return used() > room;
    };
    std::vector<Flat>& stack = flat_;
    const std::size_t orders_size = orders_.size();
    auto done = [&](bool fits) {
      stack.clear();
      orders_.pop_to(orders_size);
      return fits;
    };
    out_.put(root.is_array() ? '[' : '{');
    stack.push_back({&root, root_order, 0});
    for (;;) {
      Flat& f = stack.back();
      const Value& v = *f.value;
      if (f.next == v.size()) {
        out_.put(v.is_array() ? ']' : '}');
        if (v.is_object() && stack.size() > 1) orders_.pop_to(f.order);
        stack.pop_back();
        if (stack.empty()) return done(!too_wide());
        if (stack.size() == 1) trial_pieces_.back().end = out_.size();
        if (too_wide()) return done(false);
        continue;
      }
      if (f.next > 0) out_.put(", ");
      const bool top = stack.size() == 1;
      if (top) trial_pieces_.push_back({out_.size(), out_.size(), incomplete, 0});
      const Value* child;
      if (v.is_array()) {
        child = &v.items()[f.next];
      } else {
        const Member& m = member(v, f.order, f.next);
        if (static_cast<std::int64_t>(m.key.size() / 4 + 4) + used() > room) return done(false);
        std::int64_t key_width = out_.put_key(m.key);
        child = &m.value;
        if (top) {
          trial_pieces_.back().value = out_.size();
          trial_pieces_.back().key_width = key_width;
        }
      }
      ++f.next;  // `f` may move once a child is pushed
      if (is_container(*child) && child->size() != 0) {
        out_.put(child->is_array() ? '[' : '{');
        stack.push_back({child, child->is_object() ? orders_.push(child->members()) : 0, 0});
      } else {
        // Bound what a trial can write past its room before it is measured.
        std::size_t bytes = child->as_chars().size();
        if ((child->is_text() && static_cast<std::int64_t>(bytes / 4 + 2) + used() > room) ||
            (child->kind() == Kind::big_integer && static_cast<std::int64_t>(bytes) + used() > room))
          return done(false);
        if (is_container(*child))
          out_.put(child->is_array() ? "[]" : "{}");
        else
          out_.put_scalar(*child);
        if (top) trial_pieces_.back().end = out_.size();
      }
      if (too_wide()) return done(false);
    }
  }

  // A text too long for its room: cut at line ends, long lines into words
  // (non-space run plus the white space after it), packed greedily.
  void write_text_broken(std::string_view s, std::int64_t indent, std::int64_t allowance, bool top);

  Output out_;
  const std::int64_t width_;
  KeyOrders orders_;
  std::vector<Frame> open_;
  std::vector<Flat> flat_;
  std::vector<Piece> trial_pieces_;  // of the last trial, offsets into the output
  std::string kept_;                 // elements of failed trials, for the open frames
  std::vector<Piece> kept_pieces_;   // offsets into `kept_`
  std::vector<std::string_view> chunks_;
};

void Printer::write_text_broken(std::string_view s, std::int64_t indent, std::int64_t allowance, bool top) {
  if (top) {
    ++indent;
    ++allowance;
  }
  const std::int64_t room = width_ - indent;
  const auto& ascii = ascii_classes();
  std::vector<std::string_view>& chunks = chunks_;
  chunks.clear();
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
  if (chunks.size() <= 1) {
    out_.put_text_streamed(s);
    return;
  }
  if (top) out_.put('(');
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (i > 0) out_.put_line_break(indent);
    out_.put_text_streamed(chunks[i]);
    out_.maybe_flush();
  }
  if (top) out_.put(')');
}

}  // namespace

void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width) {
  Printer printer(write, width);
  printer.print(value);
}

std::string pretty_format(const json::Value& value, int width) {
  std::string text;
  pretty_print(
      value, [&](std::string_view piece) { text += piece; }, width);
  text.pop_back();  // the final line break
  return text;
}

}  // namespace quillon
