#include "json/json_index_decoder.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <string>

#include "base/errors.hpp"
#include "json/json_decode.hpp"
#include "json/json_token_reader.hpp"
#include "json/json_tree_builder.hpp"
#include "text/byte_scan.hpp"

namespace quillon::json {
namespace {

static_assert(std::endian::native == std::endian::little, "plain_text reads words little endian");

constexpr double powers_of_ten[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

// Iterative: the open containers live in the builder, so nesting costs no
// machine stack.
class IndexDecoder {
 public:
  IndexDecoder(std::string_view text, StructuralIndex& index, Arena& arena,
               const std::function<void()>& check_interrupt)
      : text_(text), index_(index), arena_(arena), builder_(arena), check_interrupt_(check_interrupt) {
    auto positions = index.positions();
    next_ = positions.data();
    last_ = positions.data() + positions.size() - 1;
    read_from_ = next_;
    release_ = index.releasable();
    checkpoint_at_ = std::size_t{*next_} + checkpoint_bytes;
  }

  // The whole document, whose first token opens the root.
  Value run() {
    open(advance());
    if (*peek() != closer())
      walk();
    else
      close_empty();
    if (next_ != last_) fail("Extra data", peek());
    return builder_.root();
  }

 private:
  // Walks from the start of an element until the outermost open container
  // closes.
  void walk() {
    for (;;) {
      if (element()) {
        // A container opened: it may be empty.
        if (*peek() != closer()) continue;
        if (close_empty()) return;
      }
      if (after_value()) return;
    }
  }

  // Closes the container just opened; true when it was the outermost.
  bool close_empty() {
    advance();
    builder_.close();
    return builder_.depth() == 0;
  }

  // The byte at the next position, which becomes the current one. The
  // sentinel at the end stays current: its byte (zero) fits no grammar.
  const char* advance() {
    const char* p = text_.data() + *next_;
    if (next_ != last_) ++next_;
    return p;
  }
  const char* peek() const { return text_.data() + *next_; }
  // Where the current token ends at the latest: the next position.
  const char* token_limit() const { return text_.data() + *next_; }

  char closer() const { return builder_.in_object() ? '}' : ']'; }

  [[noreturn]] void fail(const char* reason, const char* at) const {
    throw JsonDecodeError(reason, static_cast<std::size_t>(at - text_.data()));
  }

  void open(const char* p) {
    if (builder_.depth() >= max_depth) detail::refuse_depth(static_cast<std::size_t>(p - text_.data()));
    if (*p == '[')
      builder_.open_array();
    else
      builder_.open_object();
  }

  // The next member or item of the innermost container; true when it
  // opened a container of its own.
  bool element() {
    const char* p = advance();
    if (builder_.in_object()) {
      if (*p != '"') fail("Expecting property name enclosed in double quotes", p);
      builder_.key(text_at(p));
      const char* colon = advance();
      if (*colon != ':') fail("Expecting ':' delimiter", colon);
      p = advance();
    }
    switch (*p) {
      case '[':
      case '{':
        open(p);
        return true;
      case '"':
        builder_.add(Value::text(text_at(p)));
        return false;
      default:
        builder_.add(scalar(p));
        return false;
    }
  }

  // After a value: a comma (false: another element follows), or the
  // closing of its container and maybe of more; true once the root closed.
  bool after_value() {
    for (;;) {
      const char* p = advance();
      if (*p == ',') {
        if (*next_ >= checkpoint_at_) checkpoint();
        return false;
      }
      if (*p != closer()) fail("Expecting ',' delimiter", p);
      builder_.close();
      if (builder_.depth() == 0) return true;
    }
  }

  // Every megabyte or so of text, at a comma (only nesting, which is
  // bounded, goes long without one): a stop is looked for, and a large
  // answer's index, as large as its tree will be, gives the positions read
  // so far back to the system (the walk only looks at the current and the
  // next one).
  static constexpr std::size_t checkpoint_bytes = std::size_t{1} << 20;
  void checkpoint() {
    checkpoint_at_ = std::size_t{*next_} + checkpoint_bytes;
    if (release_) {
      index_.release(read_from_, next_ - 1);
      read_from_ = next_ - 1;
    }
    if (check_interrupt_) check_interrupt_();
  }

  static bool only_space(const char* p, const char* end) {
    while (p < end && detail::is_json_space(*p)) ++p;
    return p == end;
  }

  // The scalar token at `p`: the usual ones read here, the rest by hand.
  Value scalar(const char* p) {
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
        if (n == 0 || n > 18 || (n > 1 && *digits == '0')) break;
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

  Value by_hand(const char* p, const char* end) {
    std::string_view within = text_.substr(0, static_cast<std::size_t>(end - text_.data()));
    Value out;
    const std::size_t stop = detail::read_scalar(within, static_cast<std::size_t>(p - text_.data()), out);
    if (!only_space(text_.data() + stop, end)) fail("Expecting ',' delimiter", text_.data() + stop);
    return out;
  }

  // The text of the string whose opening quote is at `quote`: a view into
  // the answer when it holds no escapes, else unescaped into the arena.
  std::string_view text_at(const char* quote) {
    const char* s = quote + 1;
    std::string_view plain = plain_text(s);
    if (plain.data() != nullptr) return plain;
    // The string closes before the next position: a bound on its length.
    char* dst = reserve_text(static_cast<std::size_t>(token_limit() - s) + padding_bytes);
    if (char* end = index_.unescape(s, dst)) {
      text_next_ = end;
      return {dst, static_cast<std::size_t>(end - dst)};
    }
    // Lone surrogates, which the host keeps, or a bad escape.
    scratch_.clear();
    detail::read_string(text_, static_cast<std::size_t>(s - text_.data()), &scratch_);
    return arena_.copy(scratch_);
  }

  // The string starting at `p` up to its closing quote when it holds no
  // escape, else a null view. Eight bytes at a time: the string closes
  // within the text, and the padding covers reading a little past it.
  static std::string_view plain_text(const char* p) {
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

  char* reserve_text(std::size_t bytes) {
    if (static_cast<std::size_t>(text_end_ - text_next_) < bytes) {
      const std::size_t size = std::max(bytes, text_chunk_);
      text_next_ = arena_.allocate_array<char>(size);
      text_end_ = text_next_ + size;
      if (text_chunk_ < (std::size_t{4} << 20)) text_chunk_ *= 2;
    }
    return text_next_;
  }

  std::string_view text_;
  StructuralIndex& index_;
  Arena& arena_;
  TreeBuilder builder_;
  const std::uint32_t* next_;
  const std::uint32_t* last_;       // the sentinel
  const std::uint32_t* read_from_;  // positions before it may be released
  bool release_ = false;
  std::string scratch_;
  // Unused room of the arena chunk that texts are unescaped into.
  char* text_next_ = nullptr;
  char* text_end_ = nullptr;
  std::size_t text_chunk_ = 64 * 1024;
  const std::function<void()>& check_interrupt_;
  std::size_t checkpoint_at_;  // the byte past which the next comma is a checkpoint
};

}  // namespace

Value decode_indexed(std::string_view text, StructuralIndex& index, Arena& arena,
                     const std::function<void()>& check_interrupt) {
  return IndexDecoder(text, index, arena, check_interrupt).run();
}

}  // namespace quillon::json
