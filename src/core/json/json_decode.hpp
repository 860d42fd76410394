// Decoding a controller answer into JSON values, accepting exactly what the
// host's decoder accepts (see json_token_reader.hpp for the host's own
// extensions: NaN, Infinity, integers of any size, lone surrogates).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon::json {

// Deeper nesting fails with JsonDecodeError long before the machine stack or
// the host's own recursion could be at risk.
constexpr std::size_t max_depth = 10000;

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
// (Ctrl-C).
Document decode_buffer(std::string& buffer, const std::function<void()>& check_interrupt = {});

}  // namespace quillon::json
