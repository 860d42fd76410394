// Form bodies (application/x-www-form-urlencoded) written exactly as the
// host's HTTP client writes an insertion-ordered mapping of fields.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "base/errors.hpp"
#include "json/json_value.hpp"

namespace quillon {

struct FormField {
  std::string name;   // WTF-8; names are unique within a form
  json::Value value;  // any JSON value; see encode_form for how each kind is written
};

// Text that cannot be written as UTF-8 because it holds lone surrogates.
// Carries what the host's UnicodeEncodeError carries; the message is that
// error's own text ("'utf-8' codec can't encode character '\ud800' in
// position 3: surrogates not allowed").
class TextEncodeError : public Error {
 public:
  TextEncodeError(std::string text, std::size_t start, std::size_t end);
  const std::string& text() const { return text_; }  // the whole text, WTF-8
  std::size_t start() const { return start_; }       // code point positions [start, end)
  std::size_t end() const { return end_; }

 private:
  std::string text_;
  std::size_t start_, end_;
};

// The body for `fields`, in order. Per value:
//   text: UTF-8, percent-encoded (space as "+", only letters, digits and
//     "_.-~" left as they are);
//   null: the field is left out; boolean: True/False; integers: digits;
//     reals: the host's repr;
//   array: the field once per element, null elements skipped; an element that
//     is itself an array or object gives one occurrence per inner element or
//     member name, each written as the host's str() of it (None, repr of
//     containers with keys in stored order, text as it is);
//   object: the field once per member name, with the name as its value.
// Throws TextEncodeError (ErrorKind::encoding) for text with lone surrogates,
// reporting the same text and position the host would.
std::string encode_form(std::span<const FormField> fields);

}  // namespace quillon
