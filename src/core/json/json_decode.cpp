#include "json/json_decode.hpp"

#include <simdjson.h>

#include <string>

#include "base/errors.hpp"
#include "json/decode_error.hpp"
#include "json/json_chunked_decoder.hpp"
#include "json/json_token_reader.hpp"
#include "text/unicode.hpp"

namespace quillon::json {
namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

std::size_t after_byte_order_mark(std::string_view body) { return body.starts_with(byte_order_mark) ? 3 : 0; }

bool valid_utf8(std::string_view text) { return simdjson::validate_utf8(text.data(), text.size()); }

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
// false when it turns out not to be valid UTF-8.
bool decode_text(Document& doc, std::string_view text, const KeepPlan& plan,
                 const std::function<void()>& check_interrupt) {
  const std::size_t first = detail::skip_space(text, 0);
  if (first == text.size()) throw JsonDecodeError("Expecting value", first);
  if (text[first] != '[' && text[first] != '{') {
    if (!valid_utf8(text)) return false;
    doc.root = decode_scalar_root(text, first, doc.arena);
    return true;
  }
  ChunkedDecoder decoder(doc.arena, plan, check_interrupt, first);
  try {
    if (decoder.finish(text) == ChunkedDecoder::Bytes::invalid_utf8) return false;
  } catch (const JsonDecodeError&) {
    // The host reads the bytes as UTF-8 before it parses them: a fault in
    // one chunk counts only if no later one needs repair.
    if (!valid_utf8(text)) return false;
    throw;
  }
  doc.root = decoder.root();
  return true;
}

// `text` lives in storage that `doc`'s arena keeps, followed by
// padding_bytes zero bytes. The bytes are checked as UTF-8 while they are
// indexed; only an answer that is not valid is repaired (as a copy) and
// decoded again. Positions are reported in the body's own bytes (after
// repair, in the repaired text's).
Document decode_kept(Document doc, std::string_view text, const KeepPlan& plan,
                     const std::function<void()>& check_interrupt) {
  try {
    if (decode_text(doc, text, plan, check_interrupt)) return doc;
    std::string repaired = unicode::repair_utf8(text);
    const std::size_t n = repaired.size();
    repaired.resize(n + padding_bytes);
    doc = Document{};
    text = std::string_view(doc.arena.keep(std::move(repaired)).data(), n);
    // Repaired text is valid UTF-8: this round decodes or refuses.
    decode_text(doc, text, plan, check_interrupt);
    return doc;
  } catch (const JsonDecodeError& refused) {
    // The host's message and position, from a slower scan of the same text.
    throw explain_refusal(text, refused);
  }
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
Document decode_buffer(std::string& buffer, const std::function<void()>& check_interrupt, const KeepPlan& plan) {
  const std::size_t n = buffer.size();
  buffer.resize(n + padding_bytes);
  Document doc;
  const std::string& kept = doc.arena.keep(std::move(buffer));
  const std::size_t start = after_byte_order_mark(std::string_view(kept.data(), n));
  return decode_kept(std::move(doc), std::string_view(kept.data() + start, n - start), plan, check_interrupt);
}

struct StreamDecoder::Stream {
  std::size_t start;  // after a byte-order mark
  ChunkedDecoder chunks;
};

StreamDecoder::StreamDecoder(const KeepPlan& plan, std::function<void()> check_interrupt, std::size_t chunk)
    : plan_(plan), check_interrupt_(std::move(check_interrupt)), chunk_(chunk) {}

StreamDecoder::~StreamDecoder() = default;

void StreamDecoder::grew(std::string_view so_far) {
  if (given_up_) return;
  if (!stream_) {
    // An answer shorter than a chunk is as quick to decode at its end.
    if (so_far.size() < chunk_) return;
    const std::size_t start = after_byte_order_mark(so_far);
    const std::size_t first = detail::skip_space(so_far, start);
    if (first == so_far.size()) return;
    if (so_far[first] != '[' && so_far[first] != '{') return give_up();
    stream_.reset(new Stream{start, ChunkedDecoder(doc_.arena, plan_, check_interrupt_, first - start, chunk_)});
  }
  try {
    if (stream_->chunks.grew(so_far.substr(stream_->start)) == ChunkedDecoder::Bytes::invalid_utf8) give_up();
  } catch (const JsonDecodeError&) {
    give_up();
  }
}

// What the stream could not take is decoded again from the start, whole:
// the one place refusals are explained and bad UTF-8 repaired.
void StreamDecoder::give_up() {
  stream_.reset();
  doc_ = Document{};
  given_up_ = true;
}

Document StreamDecoder::finish(std::string_view body, std::shared_ptr<const void> owner, std::size_t owned_bytes) {
  if (stream_) {
    try {
      if (stream_->chunks.finish(body.substr(stream_->start)) == ChunkedDecoder::Bytes::valid) {
        doc_.root = stream_->chunks.root();
        doc_.arena.keep(std::move(owner), owned_bytes);
        stream_.reset();
        return std::move(doc_);
      }
    } catch (const JsonDecodeError&) {
    }
    give_up();
  }
  Document doc;
  doc.arena.keep(std::move(owner), owned_bytes);
  const std::size_t start = after_byte_order_mark(body);
  return decode_kept(std::move(doc), body.substr(start), plan_, check_interrupt_);
}

}  // namespace quillon::json
