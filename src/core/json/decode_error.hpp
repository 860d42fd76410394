// Why the host's decoder rejects a document, and where. The fast decoder
// only knows that it failed; once it has, this slower scan reads the
// document again the way the host's scanner does (its checks in its order)
// and reports the host's own message and position, counted in characters
// as the host counts them, with its line and column. It runs on failures
// only, so it is written for exactness, not speed.
#pragma once

#include <optional>
#include <string_view>

#include "base/errors.hpp"

namespace quillon::json {

// `document` is the text as the host decodes it: valid UTF-8 with one
// leading byte-order mark already dropped. The host's error for it, or
// nullopt if the host accepts it. Nesting deeper than max_depth fails with
// our own "Nesting deeper" message at the container that goes too deep.
std::optional<JsonDecodeError> diagnose(std::string_view document);

// What the decoder throws after its fast path refused `document` with
// `refused`: the diagnosis, or (a document the host accepts, refused for
// another reason such as memory) the fast path's reason at its position.
JsonDecodeError explain_refusal(std::string_view document, const JsonDecodeError& refused);

}  // namespace quillon::json
