// Two passes, both iterative so that nesting depth is bounded by memory:
//
// 1. Measure: the flat width (in code points) of every array and object,
//    each computed once from its children's, and the key order of every
//    object. Containers are numbered in the order the layout meets them
//    (pre-order, members in key order).
// 2. Lay out: a container whose flat width fits in its room is written flat;
//    otherwise it is opened and its elements are laid out one per line.
//
// The host re-renders a subtree at every level it descends through; the
// output is the same, but here each width is computed once and the text is
// streamed out in buffered pieces.
#include "printer.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "repr.hpp"
#include "unicode.hpp"

namespace quillon {
namespace {

using json::Kind;
using json::Member;
using json::Value;

// Width of a quoted text, kept as parts so that two pieces can be joined:
// which quote is used (and so whether apostrophes are escaped) depends on
// the whole text.
struct TextWidth {
  std::uint64_t plain = 0;  // every character but the quotes, escapes included
  std::uint64_t singles = 0;
  std::uint64_t doubles = 0;

  std::uint64_t quoted() const {
    bool double_quoted = singles != 0 && doubles == 0;
    return 2 + plain + singles + doubles + (double_quoted ? 0 : singles);
  }
  TextWidth operator+(const TextWidth& o) const {
    return {plain + o.plain, singles + o.singles, doubles + o.doubles};
  }
  bool empty() const { return plain == 0 && singles == 0 && doubles == 0; }
};

constexpr std::array<std::uint8_t, 128> ascii_widths = [] {
  std::array<std::uint8_t, 128> w{};
  for (int c = 0; c < 128; ++c) w[c] = (c < 0x20 || c == 0x7F) ? 4 : 1;
  w['\t'] = w['\n'] = w['\r'] = w['\\'] = 2;
  return w;
}();

// Adds one code point (never a quote) to `w`.
void add_char(TextWidth& w, char32_t cp) {
  if (cp < 0x80) {
    w.plain += ascii_widths[cp];
  } else if (unicode::is_printable(cp)) {
    w.plain += 1;
  } else {
    w.plain += cp <= 0xFF ? 4 : cp <= 0xFFFF ? 6 : 10;
  }
}

// Adds the code point at `pos` and advances `pos`; returns the code point.
char32_t measure_next(TextWidth& w, std::string_view s, std::size_t& pos) {
  unsigned char b = static_cast<unsigned char>(s[pos]);
  if (b < 0x80) {
    ++pos;
    if (b == '\'')
      ++w.singles;
    else if (b == '"')
      ++w.doubles;
    else
      w.plain += ascii_widths[b];
    return b;
  }
  char32_t cp = unicode::next(s, pos);
  add_char(w, cp);
  return cp;
}

TextWidth measure(std::string_view s) {
  TextWidth w;
  for (std::size_t pos = 0; pos < s.size();) measure_next(w, s, pos);
  return w;
}

std::uint64_t scalar_width(const Value& v, std::string& scratch) {
  switch (v.kind()) {
    case Kind::null: return 4;
    case Kind::boolean: return v.as_bool() ? 4 : 5;
    case Kind::big_integer: return v.as_chars().size();
    case Kind::text: return measure(v.as_chars()).quoted();
    case Kind::integer:
    case Kind::real:
      scratch.clear();
      if (v.kind() == Kind::integer)
        repr::append_integer(scratch, v.as_integer());
      else
        repr::append_real(scratch, v.as_real());
      return scratch.size();
    case Kind::array:
    case Kind::object: break;
  }
  return 0;
}

void append_scalar(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Kind::null: out += "None"; break;
    case Kind::boolean: out += v.as_bool() ? "True" : "False"; break;
    case Kind::integer: repr::append_integer(out, v.as_integer()); break;
    case Kind::big_integer: out += v.as_chars(); break;
    case Kind::real: repr::append_real(out, v.as_real()); break;
    case Kind::text: repr::append_text(out, v.as_chars()); break;
    case Kind::array:
    case Kind::object: break;
  }
}

bool is_container(const Value& v) { return v.is_array() || v.is_object(); }

struct Container {
  std::uint64_t width;      // flat width in code points
  std::size_t order_begin;  // objects: where their key order starts in `order`
};

// Measured containers, numbered in layout order.
struct Measure {
  std::vector<Container> containers;
  std::vector<std::uint32_t> order;  // member indices of each object, sorted by key

  const Member& member(const Value& object, std::size_t id, std::size_t i) const {
    return object.members()[order[containers[id].order_begin + i]];
  }
};

// The records of an answer repeat the same keys, and the decoder and the
// filter store each key's text once, so an object whose keys are the very
// same strings as a recent object's can share that object's sorted order.
class RecentKeyOrders {
 public:
  const std::size_t* find(std::span<const Member> members) const {
    for (const Entry& e : entries_)
      if (e.members.size() == members.size() && !members.empty() && same_keys(e.members, members)) return &e.begin;
    return nullptr;
  }
  void remember(std::span<const Member> members, std::size_t begin) {
    entries_[next_] = {members, begin};
    next_ = (next_ + 1) % entries_.size();
  }

 private:
  struct Entry {
    std::span<const Member> members;
    std::size_t begin = 0;
  };
  static bool same_keys(std::span<const Member> a, std::span<const Member> b) {
    for (std::size_t i = 0; i < a.size(); ++i)
      if (a[i].key.data() != b[i].key.data() || a[i].key.size() != b[i].key.size()) return false;
    return true;
  }
  std::array<Entry, 4> entries_{};
  std::size_t next_ = 0;
};

// Appends the member indices of `members` in key order.
void append_sorted_order(std::span<const Member> members, std::vector<std::uint32_t>& order) {
  std::size_t begin = order.size();
  for (std::uint32_t i = 0; i < members.size(); ++i) order.push_back(i);
  // WTF-8 byte order is code-point order, lone surrogates included.
  auto by_key = [&](std::uint32_t a, std::uint32_t b) { return members[a].key < members[b].key; };
  auto first = order.begin() + static_cast<std::ptrdiff_t>(begin);
  if (members.size() <= 16) {
    // Records are small objects: insertion sort beats the merge sort's set-up.
    for (auto it = first + 1; it < order.end(); ++it)
      for (auto j = it; j > first && by_key(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
  } else {
    std::stable_sort(first, order.end(), by_key);
  }
}

Measure measure_tree(const Value& root) {
  Measure m;
  if (!is_container(root)) return m;
  struct Frame {
    const Value* value;
    std::size_t id;
    std::size_t next;
    std::uint64_t width;
  };
  std::vector<Frame> stack;
  std::string scratch;
  RecentKeyOrders recent;
  // Numbers and sorts a container; true when it is empty (finished at once).
  auto open = [&](const Value& v) -> bool {
    std::size_t id = m.containers.size();
    m.containers.push_back({2, m.order.size()});
    if (v.is_object()) {
      auto members = v.members();
      if (const std::size_t* known = recent.find(members)) {
        m.containers.back().order_begin = *known;
      } else {
        recent.remember(members, m.order.size());
        append_sorted_order(members, m.order);
      }
    }
    if (v.size() == 0) return true;
    stack.push_back({&v, id, 0, 2 + 2 * (static_cast<std::uint64_t>(v.size()) - 1)});
    return false;
  };
  open(root);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const Value& v = *f.value;
    if (f.next == v.size()) {
      std::uint64_t width = f.width;
      m.containers[f.id].width = width;
      stack.pop_back();
      if (!stack.empty()) stack.back().width += width;
      continue;
    }
    const Value* child;
    if (v.is_array()) {
      child = &v.items()[f.next];
    } else {
      const Member& member = m.member(v, f.id, f.next);
      f.width += measure(member.key).quoted() + 2;
      child = &member.value;
    }
    ++f.next;  // `f` may move once a child is pushed
    if (!is_container(*child))
      f.width += scalar_width(*child, scratch);
    else if (open(*child))
      f.width += 2;  // nothing was pushed, so `f` is still valid
  }
  return m;
}

class Printer {
 public:
  Printer(const Measure& m, const std::function<void(std::string_view)>& write, int width)
      : m_(m), write_(write), width_(width) {
    out_.reserve(buffer_size + 4096);
  }

  void print(const Value& root) {
    place(root, 0, 0, true);
    while (!stack_.empty()) step();
    out_ += '\n';
    flush();
  }

 private:
  static constexpr std::size_t buffer_size = 64 * 1024;

  struct Frame {
    const Value* value;
    std::size_t id;
    std::size_t next;
    std::int64_t indent;          // of the elements
    std::int64_t last_allowance;  // of the last element
  };
  struct Flat {
    const Value* value;
    std::size_t id;
    std::size_t next;
  };

  void flush() {
    if (!out_.empty()) write_(out_);
    out_.clear();
  }
  void maybe_flush() {
    if (out_.size() >= buffer_size) flush();
  }

  // Lays out `v` at column `indent` with `allowance` characters to follow it.
  void place(const Value& v, std::int64_t indent, std::int64_t allowance, bool top) {
    std::int64_t room = width_ - indent - allowance;
    if (is_container(v)) {
      std::size_t id = next_id_;
      if (static_cast<std::int64_t>(m_.containers[id].width) <= room) {
        write_flat(v);
        return;
      }
      ++next_id_;
      out_ += v.is_array() ? '[' : '{';
      stack_.push_back({&v, id, 0, indent + 1, allowance + 1});
    } else if (v.is_text() && static_cast<std::int64_t>(measure(v.as_chars()).quoted()) > room) {
      write_text_broken(v.as_chars(), indent, allowance, top);
    } else {
      append_scalar(out_, v);
    }
    maybe_flush();
  }

  // Writes the next element of the innermost open container.
  void step() {
    Frame& f = stack_.back();
    const Value& v = *f.value;
    if (f.next == v.size()) {
      out_ += v.is_array() ? ']' : '}';
      stack_.pop_back();
      return;
    }
    if (f.next > 0) {
      out_ += ",\n";
      out_.append(static_cast<std::size_t>(f.indent), ' ');
    }
    std::int64_t allowance = f.next + 1 == v.size() ? f.last_allowance : 1;
    std::int64_t indent = f.indent;
    const Value* child;
    if (v.is_array()) {
      child = &v.items()[f.next];
    } else {
      const Member& member = m_.member(v, f.id, f.next);
      std::size_t before = out_.size();
      repr::append_text(out_, member.key);
      indent += static_cast<std::int64_t>(unicode::length(std::string_view(out_).substr(before))) + 2;
      out_ += ": ";
      child = &member.value;
    }
    ++f.next;  // `f` may move once a child is pushed
    place(*child, indent, allowance, false);
  }

  // The flat form of a container, members in key order.
  void write_flat(const Value& root) {
    std::vector<Flat>& stack = flat_stack_;
    auto open = [&](const Value& v) {
      std::size_t id = next_id_++;
      if (v.size() == 0) {
        out_ += v.is_array() ? "[]" : "{}";
        return;
      }
      out_ += v.is_array() ? '[' : '{';
      stack.push_back({&v, id, 0});
    };
    open(root);
    while (!stack.empty()) {
      Flat& f = stack.back();
      const Value& v = *f.value;
      if (f.next == v.size()) {
        out_ += v.is_array() ? ']' : '}';
        stack.pop_back();
        continue;
      }
      if (f.next > 0) out_ += ", ";
      const Value* child;
      if (v.is_array()) {
        child = &v.items()[f.next];
      } else {
        const Member& member = m_.member(v, f.id, f.next);
        repr::append_text(out_, member.key);
        out_ += ": ";
        child = &member.value;
      }
      ++f.next;
      if (is_container(*child))
        open(*child);
      else
        append_scalar(out_, *child);
      maybe_flush();
    }
  }

  // A text too long for its room: cut at line ends, long lines into words
  // (non-space run plus the white space after it), packed greedily.
  void write_text_broken(std::string_view s, std::int64_t indent, std::int64_t allowance, bool top) {
    if (top) {
      ++indent;
      ++allowance;
    }
    const std::int64_t room = width_ - indent;
    auto fits = [](const TextWidth& w, std::int64_t limit) { return static_cast<std::int64_t>(w.quoted()) <= limit; };
    std::vector<std::string_view>& chunks = chunks_;
    chunks.clear();
    for (std::size_t line_begin = 0; line_begin < s.size();) {
      TextWidth line_width;
      std::size_t line_end = line_begin;
      while (line_end < s.size()) {
        char32_t cp = measure_next(line_width, s, line_end);
        if (unicode::is_line_break(cp)) {
          if (cp == '\r' && line_end < s.size() && s[line_end] == '\n') measure_next(line_width, s, line_end);
          break;
        }
      }
      const bool last_line = line_end == s.size();
      std::string_view line = s.substr(line_begin, line_end - line_begin);
      if (fits(line_width, room - (last_line ? allowance : 0))) {
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
            std::size_t at = pos;
            TextWidth one;
            char32_t cp = measure_next(one, line, at);
            bool space = unicode::is_space(cp);
            if (in_space && !space) break;
            in_space = in_space || space;
            part = part + one;
            pos = at;
          }
          if (pos == line.size() && last_line) limit -= allowance;
          if (!fits(current + part, limit)) {
            if (!current.empty()) chunks.push_back(line.substr(current_begin, current_end - current_begin));
            current = part;
            current_begin = part_begin;
          } else {
            current = current + part;
          }
          current_end = pos;
        }
        if (!current.empty()) chunks.push_back(line.substr(current_begin, current_end - current_begin));
      }
      line_begin = line_end;
    }
    if (chunks.size() <= 1) {
      repr::append_text(out_, s);
      return;
    }
    if (top) out_ += '(';
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      if (i > 0) {
        out_ += '\n';
        out_.append(static_cast<std::size_t>(indent), ' ');
      }
      repr::append_text(out_, chunks[i]);
      maybe_flush();
    }
    if (top) out_ += ')';
  }

  const Measure& m_;
  const std::function<void(std::string_view)>& write_;
  const std::int64_t width_;
  std::string out_;
  std::vector<Frame> stack_;
  std::vector<Flat> flat_stack_;
  std::vector<std::string_view> chunks_;
  std::size_t next_id_ = 0;  // number of the next container the layout meets
};

}  // namespace

void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width) {
  Measure m = measure_tree(value);
  Printer printer(m, write, width);
  printer.print(value);
}

std::string pretty_format(const json::Value& value, int width) {
  std::string text;
  pretty_print(value, [&](std::string_view piece) { text += piece; }, width);
  text.pop_back();  // the final line break
  return text;
}

}  // namespace quillon
