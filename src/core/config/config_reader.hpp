// The configuration reader: sectioned key-value text read by the same rules,
// with the same errors, as the host's ConfigParser in its default settings
// (delimiters "=" and ":", full-line comments "#" and ";", strict, blank
// lines kept inside values, section "DEFAULT" lending its keys, keys folded
// by str.lower, %-expansion ten levels deep).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/errors.hpp"

namespace quillon::config {

// One per host exception class of the reader.
enum class ErrorType {
  missing_section_header,        // MissingSectionHeaderError(source, lineno, line)
  duplicate_section,             // DuplicateSectionError(section, source, lineno)
  duplicate_option,              // DuplicateOptionError(section, option, source, lineno)
  parsing,                       // ParsingError(source) + errors [(lineno, repr(line))]
  no_section,                    // NoSectionError(section)
  no_option,                     // NoOptionError(option, section)
  interpolation_syntax,          // InterpolationSyntaxError(option, section, msg)
  interpolation_missing_option,  // InterpolationMissingOptionError(option, section, rawval, reference)
  interpolation_depth,           // InterpolationDepthError(option, section, rawval)
};

// Reading errors (the first four types) and lookup errors (the rest). Every
// field holds what the host class receives; fields a type does not use stay
// empty. `what()` is the host's str() of the same error.
class ConfigError : public Error {
 public:
  struct Fields {
    std::string source;  // file name as given to the reader
    std::size_t lineno = 0;
    std::string line;  // the whole line, its line feed included
    std::string section;
    std::string option;                                          // folded to lower case
    std::string rawval;                                          // raw value of the option being expanded
    std::string reference;                                       // the missing key (folded)
    std::string msg;                                             // message of an expansion syntax error
    std::vector<std::pair<std::size_t, std::string>> bad_lines;  // parsing: (lineno, line)
  };

  ConfigError(ErrorType type, Fields fields);
  ErrorType type() const { return type_; }
  const Fields& fields() const { return *fields_; }
  bool is_reading_error() const;

 private:
  ErrorType type_;
  std::shared_ptr<const Fields> fields_;  // shared: exceptions are copied
};

// The file's bytes are not UTF-8. Where and why, in the terms of the host's
// UnicodeDecodeError ("utf-8", bytes, start, end, reason); the message also
// names the file.
class TextDecodeError : public Error {
 public:
  TextDecodeError(std::string source, std::shared_ptr<const std::string> bytes, std::size_t start, std::size_t end,
                  std::string reason);
  const std::string& source() const { return source_; }
  const std::string& bytes() const { return *bytes_; }
  std::size_t start() const { return start_; }
  std::size_t end() const { return end_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string source_;
  std::shared_ptr<const std::string> bytes_;
  std::size_t start_, end_;
  std::string reason_;
};

class Reader {
 public:
  Reader();
  ~Reader();
  Reader(Reader&&) noexcept;
  Reader& operator=(Reader&&) noexcept;

  // Parses UTF-8 text as the host reads an opened text file: LF, CR LF and
  // CR end lines, a byte-order mark stays in the first line. `source` names
  // the text in error messages. Text that is not UTF-8 fails with
  // TextDecodeError before anything is parsed.
  void read_text(std::string_view utf8_text, std::string source);
  // Reads the file whole (OsError when it cannot be opened or read), then
  // read_text with the path as the source.
  void read_path(const std::string& path, const std::function<void()>& check_interrupt = {});

  // The value of `option` (folded) in `section` or "DEFAULT", %-expanded.
  std::string get(std::string_view section, std::string_view option) const;
  // Own keys in order of first appearance, then DEFAULT's keys it lacks.
  std::vector<std::string> options(std::string_view section) const;
  std::vector<std::string> sections() const;  // without DEFAULT, in order
  bool has_section(std::string_view section) const;

  struct Section;

 private:
  const Section* find_section(std::string_view name) const;
  const std::string* lookup(const Section* section, std::string_view key) const;
  class Parser;
  class Expander;

  std::unique_ptr<Section> defaults_;
  std::vector<std::unique_ptr<Section>> sections_;
  std::unordered_map<std::string_view, std::size_t> section_index_;  // views into sections_' names
  unsigned read_count_ = 0;
};

// The host's repr() of text: quotes chosen as it does, escapes for
// non-printable code points; bytes that are not UTF-8 appear as the
// surrogates the host's file-name decoding gives them (\udcXX).
std::string quote(std::string_view text);

}  // namespace quillon::config
