#include "json/json_index_decoder.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "json/json_token_reader.hpp"
#include "text/byte_scan.hpp"

namespace quillon::json {
namespace {

static_assert(std::endian::native == std::endian::little, "plain_text reads words little endian");

constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Every megabyte or so of text, at a comma (only nesting, which is bounded,
// goes long without one), a stop is looked for.
constexpr std::size_t checkpoint_bytes = std::size_t{1} << 20;

bool only_space(const char* p, const char* end) {
  while (p < end && detail::is_json_space(*p)) ++p;
  return p == end;
}

// The string starting at `p` up to its closing quote when it holds no
// escape, else a null view. Eight bytes at a time: the string closes within
// the text, and the padding covers reading a little past it.
std::string_view plain_text(const char* p) {
  for (std::size_t i = 0;; i += 8) {
    const std::uint64_t word = byte_scan::load(p + i);
    const std::uint64_t marks = byte_scan::bytes_equal(word, '"') | byte_scan::bytes_equal(word, '\\');
    if (marks != 0) {
      const std::size_t at = i + byte_scan::first(marks);
      if (p[at] == '\\') return {};
      return {p, at};
    }
  }
}

}  // namespace

IndexWalker::IndexWalker(Arena& arena, const KeepPlan& plan, const std::function<void()>& check_interrupt)
    : arena_(arena),
      builder_(arena),
      check_interrupt_(check_interrupt),
      root_plan_(plan.root()),
      stored_keys_(plan.member_count()),
      checkpoint_at_(checkpoint_bytes) {}

std::size_t IndexWalker::walk(std::string_view text, std::size_t from, StructuralIndex& index, bool last) {
  const auto positions = index.positions();
  if (!last && positions.size() < 2) return from;
  text_ = text;
  base_ = text.data() + from;
  index_ = &index;
  next_ = positions.data();
  last_ = positions.data() + positions.size() - 1;
  // In a chunk that goes on, the last position is only looked at.
  stop_ = last ? last_ + 3 : last_ - 1;
  for (;;) {
    const bool going = skipped_.empty() ? build() : skip();
    if (!going) return from + *next_;
    if (at_ == At::end) break;
  }
  // Nothing but the sentinel may follow the root. (In a chunk that goes on
  // its last position does, which is never consumed.)
  if (next_ != last_) fail("Extra data", peek());
  return from + *next_;
}

// Walks while tokens are whole in the chunk; false when it must wait for the
// next, true when the root closed or a value not built begins.
bool IndexWalker::build() {
  switch (at_) {
    case At::root:
      if (next_ >= stop_) return false;
      open(advance(), root_plan_);
      goto opened;
    case At::opened:
      goto opened;
    case At::item:
      goto item;
    case At::after:
      goto after;
    case At::end:
      return true;
  }
opened:
  if (next_ >= stop_) {
    at_ = At::opened;
    return false;
  }
  if (*peek() == closer()) {
    advance();
    close();
    if (builder_.depth() == 0) {
      at_ = At::end;
      return true;
    }
    goto after;
  }
item:
  if (stop_ - next_ < 3) {
    at_ = At::item;
    return false;
  }
  switch (element()) {
    case Element::opened:
      goto opened;
    case Element::skipped_container:
      at_ = At::opened;
      return true;
    case Element::built:
      break;
  }
after:
  for (;;) {
    if (next_ >= stop_) {
      at_ = At::after;
      return false;
    }
    const char* p = advance();
    if (*p == ',') {
      if (static_cast<std::size_t>(base_ - text_.data()) + *next_ >= checkpoint_at_) checkpoint();
      goto item;
    }
    if (*p != closer()) fail("Expecting ',' delimiter", p);
    close();
    if (builder_.depth() == 0) {
      at_ = At::end;
      return true;
    }
  }
}

// The same walk through a value that is not built, with the same checks;
// true once it closed. Its loops mirror walk()'s rather than share them: one
// shared helper cost 2.4% more instructions per decode, even inlined.
bool IndexWalker::skip() {
  switch (at_) {
    case At::opened:
      goto opened;
    case At::item:
      goto item;
    default:
      goto after;
  }
opened:
  if (next_ >= stop_) {
    at_ = At::opened;
    return false;
  }
  if (*peek() == skipped_.back()) {
    advance();
    skipped_.pop_back();
    if (skipped_.empty()) {
      at_ = At::after;
      return true;
    }
    goto after;
  }
item:
  if (stop_ - next_ < 3) {
    at_ = At::item;
    return false;
  }
  {
    const char* p = advance();
    if (skipped_.back() == '}') {
      if (*p != '"') fail("Expecting property name enclosed in double quotes", p);
      check_string(p);
      const char* colon = advance();
      if (*colon != ':') fail("Expecting ':' delimiter", colon);
      p = advance();
    }
    if (skip_value(p) == Element::skipped_container) goto opened;
  }
after:
  for (;;) {
    if (next_ >= stop_) {
      at_ = At::after;
      return false;
    }
    const char* p = advance();
    if (*p == ',') {
      if (static_cast<std::size_t>(base_ - text_.data()) + *next_ >= checkpoint_at_) checkpoint();
      goto item;
    }
    if (*p != skipped_.back()) fail("Expecting ',' delimiter", p);
    skipped_.pop_back();
    if (skipped_.empty()) {
      at_ = At::after;
      return true;
    }
  }
}

// The next member or item of the innermost container, built as far as the
// plan reads it.
IndexWalker::Element IndexWalker::element() {
  const char* p = advance();
  const KeepPlan::Node* plan = plans_.back();
  const KeepPlan::Node* read = KeepPlan::whole();
  if (builder_.in_object()) {
    if (*p != '"') fail("Expecting property name enclosed in double quotes", p);
    const std::string_view key = text_at(p);
    const char* colon = advance();
    if (*colon != ':') fail("Expecting ':' delimiter", colon);
    p = advance();
    if (plan == nullptr) {
      builder_.key(key);
    } else {
      const KeepPlan::Member* m = plan->member(key);
      if (m == nullptr) return skip_value(p);
      read = m->read;
      if (plan->member_count() <= 64)
        builder_.known_key(stored_key(*m), m->slot);
      else
        builder_.key(key);
    }
  } else if (plan != nullptr && (read = plan->items) == nullptr) {
    return skip_value(p);
  }
  switch (*p) {
    case '[':
    case '{':
      open(p, read);
      return Element::opened;
    case '"':
      builder_.add(Value::text(text_at(p)));
      return Element::built;
    default:
      builder_.add(scalar(p));
      return Element::built;
  }
}

// A key the plan reads, stored in the arena the first time it is met.
Key IndexWalker::stored_key(const KeepPlan::Member& m) {
  Key& k = stored_keys_[m.id];
  if (k.size() == 0 && !m.key.empty()) k = arena_.store_key(m.key);
  return k;
}

// Checks the value at `p` without building it; a container is entered.
IndexWalker::Element IndexWalker::skip_value(const char* p) {
  switch (*p) {
    case '[':
    case '{':
      if (builder_.depth() + skipped_.size() >= max_depth)
        detail::refuse_depth(static_cast<std::size_t>(p - text_.data()));
      skipped_.push_back(*p == '[' ? ']' : '}');
      return Element::skipped_container;
    case '"':
      check_string(p);
      return Element::built;
    default:
      check_scalar(p);
      return Element::built;
  }
}

void IndexWalker::open(const char* p, const KeepPlan::Node* read) {
  if (builder_.depth() >= max_depth) detail::refuse_depth(static_cast<std::size_t>(p - text_.data()));
  if (*p == '[')
    builder_.open_array();
  else
    builder_.open_object();
  plans_.push_back(read == KeepPlan::whole() ? nullptr : read);
}

void IndexWalker::close() {
  builder_.close();
  plans_.pop_back();
}

void IndexWalker::fail(const char* reason, const char* at) const {
  throw JsonDecodeError(reason, static_cast<std::size_t>(at - text_.data()));
}

void IndexWalker::checkpoint() {
  checkpoint_at_ = static_cast<std::size_t>(base_ - text_.data()) + *next_ + checkpoint_bytes;
  if (check_interrupt_) check_interrupt_();
}

// The scalar token at `p`: the usual ones read here, the rest by hand.
Value IndexWalker::scalar(const char* p) {
  const char* end = token_limit();
  switch (*p) {
    case 't':
      if (end - p >= 4 && std::string_view(p, 4) == "true" && only_space(p + 4, end)) return Value::boolean(true);
      break;
    case 'f':
      if (end - p >= 5 && std::string_view(p, 5) == "false" && only_space(p + 5, end)) return Value::boolean(false);
      break;
    case 'n':
      if (end - p >= 4 && std::string_view(p, 4) == "null" && only_space(p + 4, end)) return Value::null();
      break;
    default: {
      // Integers of up to 18 digits; reals, longer integers and anything
      // else go by hand.
      const bool negative = *p == '-';
      const char* digits = p + negative;
      const char* q = digits;
      std::uint64_t magnitude = 0;
      while (detail::is_digit(*q)) magnitude = magnitude * 10 + static_cast<unsigned>(*q++ - '0');
      const std::size_t n = static_cast<std::size_t>(q - digits);
      if (n == 0 || (n > 1 && *digits == '0')) break;
      if (n > 18) {
        // Beyond 19 digits an integer is a big one: its digits as they are.
        if (n < 20 || !only_space(q, end)) break;
        return Value::big_integer(std::string_view(p, static_cast<std::size_t>(q - p)));
      }
      if (only_space(q, end)) {
        const auto v = static_cast<std::int64_t>(magnitude);
        return Value::integer(negative ? -v : v);
      }
      // A short decimal fraction without exponent: its digits and the
      // power of ten are exact doubles, so one division rounds correctly.
      if (*q != '.') break;
      const char* f = q + 1;
      while (detail::is_digit(*f)) magnitude = magnitude * 10 + static_cast<unsigned>(*f++ - '0');
      const std::size_t decimals = static_cast<std::size_t>(f - q - 1);
      if (decimals == 0 || n + decimals > 15 || !only_space(f, end)) break;
      const double value = static_cast<double>(magnitude) / powers_of_ten[decimals];
      return Value::real(negative ? -value : value);
    }
  }
  return by_hand(p, end);
}

Value IndexWalker::by_hand(const char* p, const char* end) {
  std::string_view within = text_.substr(0, static_cast<std::size_t>(end - text_.data()));
  Value out;
  const std::size_t stop = detail::read_scalar(within, static_cast<std::size_t>(p - text_.data()), out);
  if (!only_space(text_.data() + stop, end)) fail("Expecting ',' delimiter", text_.data() + stop);
  return out;
}

// Checks the scalar token at `p` as scalar() reads it: plain numbers and
// the three words here, the rest by the hand reader's scan.
void IndexWalker::check_scalar(const char* p) {
  const char* end = token_limit();
  const char* q = p;
  switch (*p) {
    case 't':
      q = std::string_view(p, std::min<std::ptrdiff_t>(end - p, 4)) == "true" ? p + 4 : p;
      break;
    case 'f':
      q = std::string_view(p, std::min<std::ptrdiff_t>(end - p, 5)) == "false" ? p + 5 : p;
      break;
    case 'n':
      q = std::string_view(p, std::min<std::ptrdiff_t>(end - p, 4)) == "null" ? p + 4 : p;
      break;
    default: {
      const char* d = p + (*p == '-');
      if (*d == '0') {
        q = d + 1;
      } else if (*d >= '1' && *d <= '9') {
        q = d + 1;
        while (detail::is_digit(*q)) ++q;
      } else {
        break;
      }
      if (*q == '.') {
        if (!detail::is_digit(q[1])) {
          q = p;
          break;
        }
        q += 2;
        while (detail::is_digit(*q)) ++q;
      }
      if (*q == 'e' || *q == 'E') q = p;  // exponents by hand
    }
  }
  if (q != p && only_space(q, end)) return;
  std::string_view within = text_.substr(0, static_cast<std::size_t>(end - text_.data()));
  const std::size_t stop = detail::scan_scalar(within, static_cast<std::size_t>(p - text_.data()));
  if (!only_space(text_.data() + stop, end)) fail("Expecting ',' delimiter", text_.data() + stop);
}

// Checks the string whose opening quote is at `quote` as text_at() reads it.
void IndexWalker::check_string(const char* quote) {
  const char* s = quote + 1;
  if (plain_text(s).data() != nullptr) return;
  const char* end = token_limit();
  const std::size_t room = static_cast<std::size_t>(end - s) + padding_bytes;
  if (scratch_.size() < room) scratch_.resize(room);
  if (index_->unescape(s, scratch_.data()) != nullptr) return;
  // Lone surrogates, which the host keeps, or a bad escape.
  detail::read_string(text_, static_cast<std::size_t>(s - text_.data()));
}

// The text of the string whose opening quote is at `quote`: a view into
// the answer when it holds no escapes, else unescaped into the arena.
std::string_view IndexWalker::text_at(const char* quote) {
  std::string_view plain = plain_text(quote + 1);
  return plain.data() != nullptr ? plain : escaped_text_at(quote);
}

std::string_view IndexWalker::escaped_text_at(const char* quote) {
  const char* s = quote + 1;
  // The string closes before the next position: a bound on its length.
  char* dst = reserve_text(static_cast<std::size_t>(token_limit() - s) + padding_bytes);
  if (char* end = index_->unescape(s, dst)) {
    text_next_ = end;
    return {dst, static_cast<std::size_t>(end - dst)};
  }
  // Lone surrogates, which the host keeps, or a bad escape.
  scratch_.clear();
  detail::read_string(text_, static_cast<std::size_t>(s - text_.data()), &scratch_);
  return arena_.copy(scratch_);
}

char* IndexWalker::reserve_text(std::size_t bytes) {
  if (static_cast<std::size_t>(text_end_ - text_next_) < bytes) {
    const std::size_t size = std::max(bytes, text_chunk_);
    text_next_ = arena_.allocate_array<char>(size);
    text_end_ = text_next_ + size;
    if (text_chunk_ < (std::size_t{4} << 20)) text_chunk_ *= 2;
  }
  return text_next_;
}

}  // namespace quillon::json
