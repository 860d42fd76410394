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
  enum class Outcome { indexed, invalid_utf8, rejected };

  StructuralIndex();
  ~StructuralIndex();
  StructuralIndex(const StructuralIndex&) = delete;
  StructuralIndex& operator=(const StructuralIndex&) = delete;

  // Indexes `text`, which is followed by at least padding_bytes readable
  // bytes. `rejected` covers unclosed strings and raw control characters.
  Outcome build(std::string_view text);

  // After `indexed`: the positions in order, then text.size() once more as
  // a sentinel (the byte there, the first of the padding, is zero).
  std::span<const std::uint32_t> positions() const;

  // Unescapes the string whose content starts at `src` (just after its
  // quote) into `dst`, which has room for the escaped length plus
  // padding_bytes; returns the end of the written text, or nullptr for what
  // the library refuses (lone surrogates, bad escapes).
  char* unescape(const char* src, char* dst) const;

  // Gives back index memory beyond what an answer of ordinary size needs.
  void trim();

  // Whether this index goes at trim(): a walk may then give back the pages
  // of positions it has read as it goes (release), as nothing reads them
  // again. Answers of ordinary size keep their pages for the next answer.
  bool releasable() const;
  // Gives the whole pages within [from, to) of positions() back to the
  // system; they read as zero until the next build.
  void release(const std::uint32_t* from, const std::uint32_t* to);

 private:
  std::unique_ptr<simdjson::internal::dom_parser_implementation> stage_;
};

// One index per thread, kept between answers.
StructuralIndex& thread_structural_index();

}  // namespace quillon::json
