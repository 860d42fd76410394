#include "json/json_chunked_decoder.hpp"

#include <algorithm>
#include <cstring>

#include "base/errors.hpp"
#include "json/json_token_reader.hpp"

namespace quillon::json {
namespace {

// How far back from a chunk's end a comma or colon after a string is looked
// for before a plain comma will do.
constexpr std::size_t cut_search = 64 * 1024;

const char* last_of(const char* begin, const char* end, char c) {
  return static_cast<const char*>(::memrchr(begin, c, static_cast<std::size_t>(end - begin)));
}

// Whether the quote at `q` is escaped: an odd run of backslashes before it,
// as the first stage counts them.
bool escaped(const char* begin, const char* q) {
  std::size_t run = 0;
  while (q - run > begin && q[-1 - static_cast<std::ptrdiff_t>(run)] == '\\') ++run;
  return run % 2 == 1;
}

// Where to end a chunk of text[begin, end): just after a comma or colon
// that follows a string (outside one unless a string starts with it), else
// just after the last comma; 0 when there is neither.
std::size_t cut_before(std::string_view text, std::size_t begin, std::size_t end) {
  const char* first = text.data() + begin;
  const char* stop = text.data() + end;
  const char* floor = end - begin > cut_search ? stop - cut_search : first;
  for (const char* q = last_of(floor, stop, '"'); q != nullptr; q = last_of(floor, q, '"')) {
    if (escaped(first, q)) continue;
    const char* r = q + 1;
    while (r < stop && detail::is_json_space(*r)) ++r;
    if (r < stop && (*r == ',' || *r == ':')) return static_cast<std::size_t>(r + 1 - text.data());
  }
  const char* comma = last_of(first, stop, ',');
  return comma == nullptr ? 0 : static_cast<std::size_t>(comma + 1 - text.data());
}

// The opening quote of the string that text[begin, end) ends inside: the
// last quote in it that is not escaped.
std::size_t open_quote(std::string_view text, std::size_t begin, std::size_t end) {
  const char* first = text.data() + begin;
  for (const char* q = last_of(first, text.data() + end, '"'); q != nullptr; q = last_of(first, q, '"'))
    if (!escaped(first, q)) return static_cast<std::size_t>(q - text.data());
  return begin;
}

}  // namespace

ChunkedDecoder::ChunkedDecoder(Arena& arena, const KeepPlan& plan, const std::function<void()>& check_interrupt,
                               std::size_t start, std::size_t chunk)
    : walker_(arena, plan, check_interrupt), from_(start), chunk_(std::max<std::size_t>(chunk, 1)), want_(chunk_) {}

ChunkedDecoder::Bytes ChunkedDecoder::grew(std::string_view text) {
  while (text.size() - from_ >= want_) {
    const std::size_t end = from_ + want_;
    std::size_t cut = cut_before(text, from_, end);
    StructuralIndex::Outcome outcome = StructuralIndex::Outcome::unclosed_string;
    if (cut != 0) outcome = index_.build(text.substr(from_, cut - from_));
    if (outcome == StructuralIndex::Outcome::unclosed_string && cut != 0) {
      // The cut fell in a string that starts with a comma: end before it.
      cut = open_quote(text, from_, cut);
      if (cut > from_) outcome = index_.build(text.substr(from_, cut - from_));
    }
    switch (outcome) {
      case StructuralIndex::Outcome::indexed:
        break;
      case StructuralIndex::Outcome::unclosed_string:
        // No cut outside a string yet: a longer chunk.
        want_ *= 2;
        continue;
      case StructuralIndex::Outcome::invalid_utf8:
        return Bytes::invalid_utf8;
      case StructuralIndex::Outcome::rejected:
        // A raw control character in a string, which the diagnosis finds.
        throw JsonDecodeError("Document too large to decode", 0);
    }
    const std::size_t next = walker_.walk(text, from_, index_, false);
    // A token or a string longer than the chunk: the next one looks further.
    want_ = next - from_ <= want_ / 4 ? want_ * 2 : chunk_;
    from_ = next;
  }
  return Bytes::valid;
}

ChunkedDecoder::Bytes ChunkedDecoder::finish(std::string_view text) {
  if (grew(text) == Bytes::invalid_utf8) return Bytes::invalid_utf8;
  switch (index_.build(text.substr(from_))) {
    case StructuralIndex::Outcome::indexed:
      walker_.walk(text, from_, index_, true);
      return Bytes::valid;
    case StructuralIndex::Outcome::invalid_utf8:
      return Bytes::invalid_utf8;
    case StructuralIndex::Outcome::unclosed_string:
      throw JsonDecodeError("Unterminated string starting at", from_);
    case StructuralIndex::Outcome::rejected:
      break;
  }
  throw JsonDecodeError("Document too large to decode", 0);
}

}  // namespace quillon::json
