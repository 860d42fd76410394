#include "json/json_decode.hpp"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

#include "base/errors.hpp"
#include "json/decode_error.hpp"
#include "json/json_token_reader.hpp"
#include "json/json_tree_builder.hpp"
#include "text/byte_scan.hpp"
#include "text/unicode.hpp"

namespace quillon::json {
namespace {

namespace od = simdjson::ondemand;

static_assert(padding_bytes >= simdjson::SIMDJSON_PADDING);
static_assert(std::endian::native == std::endian::little, "plain_text reads words little endian");

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The parser keeps its buffers between answers; one much larger than usual
// is given back afterwards rather than held for the rest of the run.
constexpr std::size_t parser_keep_capacity = std::size_t{32} << 20;

od::parser& shared_parser() {
  thread_local od::parser parser;
  return parser;
}

[[noreturn]] void too_deep(std::size_t position) {
  throw JsonDecodeError("Nesting deeper than " + std::to_string(max_depth) + " levels", position);
}

// Walks a document whose root is an array or object with the fast parser,
// reading by hand only the tokens it refuses. Iterative: the open
// containers' iterators live on `iterators_`, their contents in `builder_`.
class FastDecoder {
 public:
  FastDecoder(std::string_view text, od::parser& parser, Arena& arena)
      : text_(text), parser_(parser), arena_(arena), builder_(arena) {}

  Value run(od::document& doc) {
    doc_ = &doc;
    od::json_type type;
    check(doc.type().get(type));
    if (type == od::json_type::array) {
      od::array a;
      check(doc.get_array().get(a));
      open_array(a);
    } else {
      od::object o;
      check(doc.get_object().get(o));
      open_object(o);
    }
    while (!iterators_.empty()) step();
    // Anything but the end after the root is junk.
    const char* rest = nullptr;
    if (doc.current_location().get(rest) != simdjson::OUT_OF_BOUNDS)
      throw JsonDecodeError("Extra data", rest ? position(rest) : text_.size());
    return builder_.root();
  }

 private:
  struct Open {
    bool object;
    bool started;
    od::array_iterator items;
    od::object_iterator members;
  };

  std::size_t position(const char* p) const { return static_cast<std::size_t>(p - text_.data()); }

  [[noreturn]] void fail(simdjson::error_code error) {
    const char* at = nullptr;
    std::size_t pos = doc_->current_location().get(at) == simdjson::SUCCESS && at ? position(at) : text_.size();
    if (pos > text_.size()) pos = text_.size();
    throw JsonDecodeError(std::string("Invalid JSON: ") + simdjson::error_message(error), pos);
  }
  void check(simdjson::error_code error) {
    if (error) fail(error);
  }

  void open_array(od::array& a) {
    od::array_iterator it;
    check(a.begin().get(it));
    iterators_.push_back({false, false, it, {}});
    builder_.open_array();
  }
  void open_object(od::object& o) {
    od::object_iterator it;
    check(o.begin().get(it));
    iterators_.push_back({true, false, {}, it});
    builder_.open_object();
  }

  // Handles the next item or member of the innermost open container.
  void step() {
    Open& top = iterators_.back();
    if (!top.object) {
      od::array_iterator& it = top.items;
      if (top.started) ++it;
      top.started = true;
      if (!(it != it)) return close();
      od::value v;
      check((*it).get(v));
      value(v);
    } else {
      od::object_iterator& it = top.members;
      if (top.started) ++it;
      top.started = true;
      if (!(it != it)) return close();
      od::field f;
      check((*it).get(f));
      const char* raw_key = f.key().raw();
      std::string_view k = plain_text(raw_key);
      if (k.data() == nullptr && f.unescaped_key().get(k)) {
        // Lone surrogates and the like: the key lives in the arena.
        scratch_.clear();
        detail::read_string(text_, position(raw_key), scratch_);
        k = arena_.copy(scratch_);
      }
      builder_.key(k);
      value(f.value());
    }
  }

  void close() {
    iterators_.pop_back();
    builder_.close();
  }

  void value(od::value& v) {
    od::json_type type;
    if (v.type().get(type)) return by_hand(v);  // NaN, Infinity, or not a value at all
    switch (type) {
      case od::json_type::array: {
        if (iterators_.size() >= max_depth) too_deep(position(v.raw_json_token().data()));
        od::array a;
        check(v.get_array().get(a));
        return open_array(a);
      }
      case od::json_type::object: {
        if (iterators_.size() >= max_depth) too_deep(position(v.raw_json_token().data()));
        od::object o;
        check(v.get_object().get(o));
        return open_object(o);
      }
      case od::json_type::string:
        return builder_.add(Value::text(text(v)));
      case od::json_type::number: {
        od::number n;
        if (v.get_number().get(n)) return by_hand(v);  // beyond 64 bits, infinite, or malformed
        if (n.is_int64()) return builder_.add(Value::integer(n.get_int64()));
        if (n.is_double()) {
          // This parser version loses reals of more than 19 significant
          // digits in get_number(); such long tokens are read by hand.
          if (v.raw_json_token().size() > 19) return by_hand(v);
          return builder_.add(Value::real(n.get_double()));
        }
        char digits[24];
        auto end = std::to_chars(digits, digits + sizeof digits, n.get_uint64()).ptr;
        return builder_.add(
            Value::big_integer(arena_.copy(std::string_view(digits, static_cast<std::size_t>(end - digits)))));
      }
      case od::json_type::boolean: {
        bool b;
        if (v.get_bool().get(b)) return by_hand(v);
        return builder_.add(Value::boolean(b));
      }
      case od::json_type::null: {
        bool is_null = false;
        if (v.is_null().get(is_null) || !is_null) return by_hand(v);
        return builder_.add(Value::null());
      }
    }
  }

  // The text of the string whose opening quote is just before `p`, as a
  // view into the answer itself when it holds no escapes (the answer is
  // kept alive with the values); a null view otherwise. Read eight bytes at
  // a time: the string is closed within the text, and the padding after
  // the text covers reading a little past the quote.
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

  // Length of the string's escaped form, from `p` (just after the opening
  // quote) to the closing quote: a bound on its unescaped length.
  static std::size_t escaped_length(const char* p) {
    const char* end = p;
    while (*end != '"') end += *end == '\\' ? 2 : 1;
    return static_cast<std::size_t>(end - p);
  }

  // Strings without escapes are views into the answer; the others are
  // unescaped straight into the arena.
  std::string_view text(od::value& v) {
    od::raw_json_string raw;
    check(v.get_raw_json_string().get(raw));
    const char* p = raw.raw();
    std::string_view plain = plain_text(p);
    if (plain.data() != nullptr) return plain;
    std::uint8_t* dst = reserve_text(escaped_length(p) + simdjson::SIMDJSON_PADDING);
    std::string_view s;
    if (parser_.unescape(raw, dst).get(s) == simdjson::SUCCESS) {
      text_next_ = reinterpret_cast<char*>(dst);
      return s;
    }
    // Lone surrogates: the host keeps them.
    scratch_.clear();
    detail::read_string(text_, position(p), scratch_);
    return arena_.copy(scratch_);
  }

  std::uint8_t* reserve_text(std::size_t bytes) {
    if (static_cast<std::size_t>(text_end_ - text_next_) < bytes) {
      std::size_t size = std::max(bytes, text_chunk_);
      text_next_ = arena_.allocate_array<char>(size);
      text_end_ = text_next_ + size;
      if (text_chunk_ < (std::size_t{4} << 20)) text_chunk_ *= 2;
    }
    return reinterpret_cast<std::uint8_t*>(text_next_);
  }

  // A scalar token the fast parser refused: the host's own reading decides.
  // The token runs to the next structural character; only white space may
  // follow the value in it.
  void by_hand(od::value& v) {
    std::string_view token = v.raw_json_token();
    std::size_t start = position(token.data());
    std::string_view within = text_.substr(0, start + token.size());
    Value out;
    std::size_t end = detail::read_scalar(within, start, out);
    if (detail::skip_space(within, end) != within.size()) throw JsonDecodeError("Expecting ',' delimiter", end);
    builder_.add(out);
  }

  std::string_view text_;
  od::parser& parser_;
  Arena& arena_;
  TreeBuilder builder_;
  od::document* doc_ = nullptr;
  std::vector<Open> iterators_;
  std::string scratch_;
  // Unused room of the arena chunk that texts are unescaped into.
  char* text_next_ = nullptr;
  char* text_end_ = nullptr;
  std::size_t text_chunk_ = 64 * 1024;
};

// A root that is a single scalar: read by hand.
Value decode_scalar_root(std::string_view text, std::size_t pos, Arena& arena) {
  Value out;
  if (text[pos] == '"') {
    std::string s;
    pos = detail::read_string(text, pos + 1, s);
    out = Value::text(arena.copy(s));
  } else {
    pos = detail::read_scalar(text, pos, out);
  }
  if (detail::skip_space(text, pos) != text.size()) throw JsonDecodeError("Extra data", detail::skip_space(text, pos));
  return out;
}

// `text` is valid UTF-8 with `padded` bytes readable from its start
// (at least its size plus the parser's padding); it lives in `doc`'s arena.
void decode_valid(Document& doc, std::string_view text, std::size_t padded) {
  std::size_t first = detail::skip_space(text, 0);
  if (first == text.size()) throw JsonDecodeError("Expecting value", first);
  if (text[first] != '[' && text[first] != '{') {
    doc.root = decode_scalar_root(text, first, doc.arena);
    return;
  }
  od::parser& parser = shared_parser();
  // Our own depth limit comes first; the parser's must not be reached.
  constexpr std::size_t parser_depth = max_depth + 8;
  if (parser.capacity() < text.size() || parser.max_depth() != parser_depth) {
    if (auto error = parser.allocate(text.size(), parser_depth))
      throw JsonDecodeError(std::string("Cannot decode: ") + simdjson::error_message(error), 0);
  }
  struct Release {
    od::parser& p;
    ~Release() {
      if (p.capacity() > parser_keep_capacity) p = od::parser{};
    }
  } release{parser};
  od::document d;
  if (auto error = parser.iterate(text.data(), text.size(), padded).get(d))
    throw JsonDecodeError(std::string("Invalid JSON: ") + simdjson::error_message(error), 0);
  doc.root = FastDecoder(text, parser, doc.arena).run(d);
}

}  // namespace

Document decode(std::string_view body) {
  std::string copy;
  copy.reserve(body.size() + padding_bytes);
  copy.assign(body);
  return decode_buffer(copy);
}

// The values point into the answer's own bytes, so the buffer moves into
// the document's arena rather than being copied.
Document decode_buffer(std::string& buffer) {
  const std::size_t offset = std::string_view(buffer).starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
  std::size_t start = offset;
  if (!simdjson::validate_utf8(buffer.data() + offset, buffer.size() - offset)) {
    buffer = unicode::repair_utf8(std::string_view(buffer).substr(offset));
    start = 0;
  }
  const std::size_t n = buffer.size();
  buffer.resize(n + padding_bytes);
  Document doc;
  const std::string& kept = doc.arena.keep(std::move(buffer));
  try {
    decode_valid(doc, std::string_view(kept.data() + start, n - start), kept.size() - start);
  } catch (const JsonDecodeError& refused) {
    // The host's message and position, from a slower scan of the same text.
    throw explain_refusal(std::string_view(kept.data() + start, n - start), refused);
  }
  return doc;
}

}  // namespace quillon::json
