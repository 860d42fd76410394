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
#include <cstdint>
#include <string>
#include <vector>

#include "print/key_order.hpp"
#include "print/repr_output.hpp"
#include "print/text_breaking.hpp"
#include "text/byte_scan.hpp"

namespace quillon {
namespace print {
namespace {

using json::Kind;
using json::Member;
using json::Value;

bool is_container(const Value& v) { return v.is_array() || v.is_object(); }

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
    if (v.is_object()) indent += out_.put_key(member(v, f.order, i).key());
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
      continuation +=
          static_cast<std::int64_t>(byte_scan::count_continuation_bytes(out_.data() + counted, size - counted));
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
        if (static_cast<std::int64_t>(m.key().size() / 4 + 4) + used() > room) return done(false);
        std::int64_t key_width = out_.put_key(m.key());
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

  ReprOutput out_;
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
  std::vector<std::string_view>& chunks = chunks_;
  chunks.clear();
  break_text(s, width_ - indent, allowance, chunks);
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
}  // namespace print

void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width) {
  print::Printer(write, width).print(value);
}

std::string pretty_format(const json::Value& value, int width) {
  std::string text;
  pretty_print(
      value, [&](std::string_view piece) { text += piece; }, width);
  text.pop_back();  // the final line break
  return text;
}

}  // namespace quillon
