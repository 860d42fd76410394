// Decoding a controller answer into JSON values, accepting exactly what the
// host's decoder accepts (see json_token_reader.hpp for the host's own
// extensions: NaN, Infinity, integers of any size, lone surrogates).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "json/json_keep_plan.hpp"
#include "json/json_value.hpp"

namespace quillon::json {

// Deeper nesting fails with JsonDecodeError long before the machine stack or
// the host's own recursion could be at risk.
constexpr std::size_t max_depth = 10000;

// What a chunk of a large answer holds at least: it is indexed and its tree
// built while its index is still in the cache.
constexpr std::size_t chunk_bytes = std::size_t{256} << 10;

// Room a body needs beyond its last byte to be decoded in place: a buffer
// reserved with this much to spare is never copied.
constexpr std::size_t padding_bytes = 64;

// Decodes an answer body as the host does: the bytes are UTF-8 whatever the
// headers say, a leading byte-order mark is skipped, malformed sequences
// become U+FFFD. Throws JsonDecodeError on anything the host rejects, junk
// after the document included, with the host's message and position.
Document decode(std::string_view body);

// The same, but takes `buffer` over (its spare capacity serves as the
// parser's padding) so that a large body is not copied: the values point
// into it. Leaves `buffer` empty or unspecified. `check_interrupt` is called
// every megabyte or so of a large answer; what it throws ends the decoding
// (Ctrl-C). With a plan, only what it reads is built (the rest is checked
// all the same); the plan must outlive the call.
Document decode_buffer(std::string& buffer, const std::function<void()>& check_interrupt = {},
                       const KeepPlan& plan = KeepPlan::everything());

// An answer decoded while it arrives: its bytes indexed and the tree built
// a chunk at a time as they come (json_chunked_decoder.hpp), so that little
// is left to do when the last one does. Whatever the stream cannot take (an
// answer that is not JSON, not valid UTF-8, or a single scalar) it leaves
// to finish(), which then decodes the whole body as decode_buffer() does:
// the same value, or the same error with the same message and position.
class StreamDecoder {
 public:
  // The plan must outlive the decoder. `chunk`: the bytes a chunk holds at
  // least, and the least an answer has before it is decoded as it comes
  // (tests make it small).
  explicit StreamDecoder(const KeepPlan& plan, std::function<void()> check_interrupt = {},
                         std::size_t chunk = chunk_bytes);
  ~StreamDecoder();
  StreamDecoder(const StreamDecoder&) = delete;
  StreamDecoder& operator=(const StreamDecoder&) = delete;

  // `so_far`: every byte of the answer so far, at an address that stays put
  // for the decoder's life, followed by padding_bytes readable bytes.
  void grew(std::string_view so_far);
  // `body`: the whole answer, followed by padding_bytes zero bytes, in
  // storage that `owner` keeps, which the document then keeps too.
  Document finish(std::string_view body, std::shared_ptr<const void> owner, std::size_t owned_bytes);

 private:
  void give_up();

  const KeepPlan& plan_;
  std::function<void()> check_interrupt_;
  std::size_t chunk_;
  Document doc_;
  struct Stream;
  std::unique_ptr<Stream> stream_;  // once the root's first byte came
  bool given_up_ = false;
};

}  // namespace quillon::json
