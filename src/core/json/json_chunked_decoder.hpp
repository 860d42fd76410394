// A document indexed and walked a chunk at a time, as its bytes come: each
// chunk is indexed by the parser library's first stage (chunk_bytes, so that
// its index stays in the cache while it is walked) and the
// tree is built right behind. A chunk ends just after a comma or colon that
// follows a string, which the first stage then proves is outside any
// string (else it ends before the string that it cut); it starts at the
// first token the walk before it left alone. So each byte is checked as
// UTF-8 and each string as a whole, once, in one chunk or the next.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "json/json_decode.hpp"
#include "json/json_index_decoder.hpp"
#include "json/json_keep_plan.hpp"
#include "json/json_structural_index.hpp"
#include "json/json_value.hpp"

namespace quillon::json {

class ChunkedDecoder {
 public:
  // `start`: where in the text the root's opening bracket is; `chunk`: the
  // bytes a chunk holds at least (tests make it small). The plan and
  // `check_interrupt` must outlive the decoder.
  ChunkedDecoder(Arena& arena, const KeepPlan& plan, const std::function<void()>& check_interrupt, std::size_t start,
                 std::size_t chunk = chunk_bytes);

  enum class Bytes { valid, invalid_utf8 };

  // `text`: the document so far, from its first byte, at an address that
  // stays put, followed by padding_bytes readable bytes. Decodes the whole
  // chunks in it. Throws JsonDecodeError for what the host refuses, or what
  // this decoder cannot take (some refusals are told only by finish());
  // after that, or after invalid_utf8, nothing more may be asked of it.
  Bytes grew(std::string_view text);
  // `text` is the whole document, followed by padding_bytes zero bytes.
  // After `valid` the document's value is root().
  Bytes finish(std::string_view text);
  Value root() const { return walker_.root(); }

 private:
  StructuralIndex index_;
  IndexWalker walker_;
  std::size_t from_;   // where the next chunk starts
  std::size_t chunk_;  // what a chunk holds at least
  std::size_t want_;   // bytes from there before it is indexed
};

}  // namespace quillon::json
