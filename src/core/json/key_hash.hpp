// The hash of object keys in the decoder's index of a large object: the
// whole key, keyed with a secret drawn once per process, so that an answer
// cannot choose keys that collide (SipHash-1-3, as the host's dicts use
// SipHash). Ordinary keys rarely reach it: the tree builder settles most
// repeats by its cache of recent keys.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon::json {

std::uint64_t key_hash(std::string_view key);

}  // namespace quillon::json
