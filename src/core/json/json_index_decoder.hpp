// Builds the value tree of a document whose root is an array or an object
// in one pass over its structural index (json_structural_index.hpp): the
// grammar is checked as the positions go by, scalars are read where they
// start, and the host's extra tokens (NaN, Infinity, integers of any size,
// lone surrogates) take the hand reader (json_token_reader.hpp) only where
// they occur.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "json/json_structural_index.hpp"
#include "json/json_value.hpp"

namespace quillon::json {

// `text` is valid UTF-8 whose first token is '[' or '{', followed by
// padding_bytes readable bytes, the first of them zero; `index` has indexed
// it. Texts and big integers without escapes are views into `text`; the rest
// of the tree goes into `arena`. Throws JsonDecodeError on anything the host
// rejects. Calls `check_interrupt` (when set) every megabyte or so of text;
// what it throws ends the decoding.
Value decode_indexed(std::string_view text, StructuralIndex& index, Arena& arena,
                     const std::function<void()>& check_interrupt = {});

}  // namespace quillon::json
