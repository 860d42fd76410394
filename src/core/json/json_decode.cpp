#include "json/json_decode.hpp"

#include <simdjson.h>

#include <string>

#include "base/errors.hpp"
#include "json/decode_error.hpp"
#include "json/json_index_decoder.hpp"
#include "json/json_structural_index.hpp"
#include "json/json_token_reader.hpp"
#include "text/unicode.hpp"

namespace quillon::json {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// A root that is a single scalar: read by hand.
Value decode_scalar_root(std::string_view text, std::size_t pos, Arena& arena) {
  Value out;
  if (text[pos] == '"') {
    std::string s;
    pos = detail::read_string(text, pos + 1, &s);
    out = Value::text(arena.copy(s));
  } else {
    pos = detail::read_scalar(text, pos, out);
  }
  if (detail::skip_space(text, pos) != text.size()) throw JsonDecodeError("Extra data", detail::skip_space(text, pos));
  return out;
}

// `text`, valid UTF-8 so far as the caller knows, lives in `doc`'s arena
// followed by padding_bytes readable bytes, the first of them zero. Returns
// false, touching nothing, when it turns out not to be valid UTF-8.
bool decode_text(Document& doc, std::string_view text, const std::function<void()>& check_interrupt) {
  const std::size_t first = detail::skip_space(text, 0);
  if (first == text.size()) throw JsonDecodeError("Expecting value", first);
  if (text[first] != '[' && text[first] != '{') {
    if (!simdjson::validate_utf8(text.data(), text.size())) return false;
    doc.root = decode_scalar_root(text, first, doc.arena);
    return true;
  }
  StructuralIndex& index = thread_structural_index();
  struct Trim {
    StructuralIndex& index;
    ~Trim() { index.trim(); }
  } trim{index};
  switch (index.build(text)) {
    case StructuralIndex::Outcome::indexed:
      doc.root = decode_indexed(text, index, doc.arena, check_interrupt);
      return true;
    case StructuralIndex::Outcome::invalid_utf8:
      return false;
    case StructuralIndex::Outcome::rejected:
      // A string that never ends or holds a raw control character, which
      // the diagnosis finds; or too large to index at all.
      if (!simdjson::validate_utf8(text.data(), text.size())) return false;
      throw JsonDecodeError("Document too large to decode", 0);
  }
  return true;
}

}  // namespace

Document decode(std::string_view body) {
  std::string copy;
  copy.reserve(body.size() + padding_bytes);
  copy.assign(body);
  return decode_buffer(copy);
}

// The values point into the answer's own bytes, so the buffer moves into
// the document's arena rather than being copied. The bytes are checked as
// UTF-8 while they are indexed; only an answer that is not valid is
// repaired (as a copy) and decoded again. Positions are reported in the
// body's own bytes (after repair, in the repaired text's).
Document decode_buffer(std::string& buffer, const std::function<void()>& check_interrupt) {
  std::size_t start = std::string_view(buffer).starts_with(byte_order_mark) ? byte_order_mark.size() : 0;
  Document doc;  // keeps the text alive for a refusal
  std::string_view text;
  try {
    for (bool repaired = false;; repaired = true) {
      const std::size_t n = buffer.size();
      buffer.resize(n + padding_bytes);
      doc = Document{};
      const std::string& kept = doc.arena.keep(std::move(buffer));
      text = std::string_view(kept.data() + start, n - start);
      // Repaired text is valid UTF-8: a second round always decodes.
      if (decode_text(doc, text, check_interrupt) || repaired) return doc;
      buffer = unicode::repair_utf8(text);
      start = 0;
    }
  } catch (const JsonDecodeError& refused) {
    // The host's message and position, from a slower scan of the same text.
    throw explain_refusal(text, refused);
  }
}

}  // namespace quillon::json
