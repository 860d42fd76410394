// The positions of a document's structural characters and of the first
// byte of each of its other tokens, found at SIMD speed by the parser
// library's first stage. That stage also validates the bytes as UTF-8,
// finds every string's extent and refuses raw control characters inside
// strings; what it cannot see (the grammar, the tokens themselves) is left
// to the tree builder that walks the positions (json_index_decoder.hpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace simdjson::internal {
class dom_parser_implementation;
}

namespace quillon::json {

class StructuralIndex {
 public:
  enum class Outcome { indexed, unclosed_string, invalid_utf8, rejected };

  StructuralIndex();
  ~StructuralIndex();
  StructuralIndex(const StructuralIndex&) = delete;
  StructuralIndex& operator=(const StructuralIndex&) = delete;

  // Indexes `text`, which is followed by at least padding_bytes readable
  // bytes and starts outside any string: a whole document, or a chunk of
  // one that starts at a token. `unclosed_string`: it ends inside a string;
  // `rejected` covers raw control characters inside strings (and memory
  // for the index that is not to be had).
  Outcome build(std::string_view text);

  // After `indexed`: the positions in order, then text.size() once more as
  // a sentinel.
  std::span<const std::uint32_t> positions() const;

  // Unescapes the string whose content starts at `src` (just after its
  // quote) into `dst`, which has room for the escaped length plus
  // padding_bytes; returns the end of the written text, or nullptr for what
  // the library refuses (lone surrogates, bad escapes).
  char* unescape(const char* src, char* dst) const;

 private:
  std::unique_ptr<simdjson::internal::dom_parser_implementation> stage_;
};

}  // namespace quillon::json
