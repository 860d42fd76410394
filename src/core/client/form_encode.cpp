#include "client/form_encode.hpp"

#include <cstdio>
#include <vector>

#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

std::string encode_error_message(const std::string& text, std::size_t start, std::size_t end) {
  std::string message = "'utf-8' codec can't encode ";
  if (end - start == 1) {
    std::size_t pos = 0, index = 0;
    char32_t cp = 0;
    while (pos < text.size()) {
      cp = unicode::next(text, pos);
      if (index++ == start) break;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "'\\u%04x'", static_cast<unsigned>(cp));
    message += "character ";
    message += buf;
    message += " in position " + std::to_string(start);
  } else {
    message += "characters in position " + std::to_string(start) + "-" + std::to_string(end - 1);
  }
  return message + ": surrogates not allowed";
}

// Throws the host's encoding error for the first run of surrogates in `wtf8`.
void require_utf8(std::string_view wtf8) {
  if (!unicode::has_surrogate(wtf8)) return;
  std::size_t pos = 0, index = 0, start = 0;
  bool in_run = false;
  while (pos < wtf8.size()) {
    bool surrogate = unicode::is_surrogate(unicode::next(wtf8, pos));
    if (surrogate && !in_run) {
      in_run = true;
      start = index;
    } else if (!surrogate && in_run) {
      break;
    }
    ++index;
  }
  throw TextEncodeError(std::string(wtf8), start, in_run ? index : start + 1);
}

// quote_plus over UTF-8 bytes.
void append_quoted(std::string& out, std::string_view bytes) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (unsigned char c : bytes) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
        c == '-' || c == '~') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
}

// str() of a value the way the host writes it into the form.
void append_str(std::string& out, const json::Value& v) {
  if (v.is_text())
    out += v.as_chars();  // str() of text is the text itself
  else if (v.is_array() || v.is_object())
    repr::append(out, v, /*sort_keys=*/false);
  else
    repr::append_scalar(out, v);
}

// One (name, value) pair as the client hands it to its URL encoder: text is
// already UTF-8 (checked), anything else is written later by its str().
struct Pair {
  std::string_view name;
  json::Value value;
};

}  // namespace

TextEncodeError::TextEncodeError(std::string text, std::size_t start, std::size_t end)
    : Error(ErrorKind::encoding, encode_error_message(text, start, end)),
      text_(std::move(text)),
      start_(start),
      end_(end) {}

std::string encode_form(std::span<const FormField> fields) {
  // First pass, as the client's parameter encoder: spread each field over its
  // values, drop nulls, encode names and text values (failing in that order).
  std::vector<Pair> pairs;
  pairs.reserve(fields.size());
  auto add = [&](const FormField& f, const json::Value& v) {
    if (v.is_null()) return;
    require_utf8(f.name);
    if (v.is_text()) require_utf8(v.as_chars());
    pairs.push_back({f.name, v});
  };
  for (const FormField& f : fields) {
    const json::Value& v = f.value;
    if (v.is_array()) {
      for (const json::Value& item : v.items()) add(f, item);
    } else if (v.is_object()) {
      for (const json::Member& m : v.members()) add(f, json::Value::text(m.key()));
    } else {
      add(f, v);
    }
  }

  // Second pass, as the URL encoder: an element that is a container gives one
  // occurrence per inner item (or member name), written by str().
  std::string body, scratch;
  auto emit = [&](std::string_view name, std::string_view value) {
    if (!body.empty()) body += '&';
    append_quoted(body, name);
    body += '=';
    append_quoted(body, value);
  };
  for (const Pair& p : pairs) {
    const json::Value& v = p.value;
    if (v.is_array()) {
      for (const json::Value& inner : v.items()) {
        scratch.clear();
        append_str(scratch, inner);
        if (inner.is_text()) require_utf8(scratch);
        emit(p.name, scratch);
      }
    } else if (v.is_object()) {
      for (const json::Member& m : v.members()) {
        require_utf8(m.key());
        emit(p.name, m.key());
      }
    } else {
      scratch.clear();
      append_str(scratch, v);
      emit(p.name, scratch);
    }
  }
  return body;
}

}  // namespace quillon
