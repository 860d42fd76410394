// The reader's errors and their messages, worded as the host's str() of
// the same exceptions.
#include <cstdio>

#include "config/config_reader.hpp"
#include "config/reader_internals.hpp"

namespace quillon::config {
namespace {

std::string line_label(std::size_t lineno) {
  char buf[32];
  std::snprintf(buf, sizeof buf, " [line %2zu]", lineno);
  return buf;
}

std::string message_for(ErrorType type, const ConfigError::Fields& f) {
  switch (type) {
    case ErrorType::missing_section_header:
      return "File contains no section headers.\nfile: " + quote(f.source) + ", line: " + std::to_string(f.lineno) +
             "\n" + quote(f.line);
    case ErrorType::duplicate_section:
      return "While reading from " + quote(f.source) + line_label(f.lineno) + ": section " + quote(f.section) +
             " already exists";
    case ErrorType::duplicate_option:
      return "While reading from " + quote(f.source) + line_label(f.lineno) + ": option " + quote(f.option) +
             " in section " + quote(f.section) + " already exists";
    case ErrorType::parsing: {
      std::string m = "Source contains parsing errors: " + quote(f.source);
      for (const auto& [lineno, line] : f.bad_lines) {
        m += "\n\t";
        m += line_label(lineno).substr(1);
        m += ": ";
        m += quote(line);
      }
      return m;
    }
    case ErrorType::no_section:
      return "No section: " + quote(f.section);
    case ErrorType::no_option:
      return "No option " + quote(f.option) + " in section: " + quote(f.section);
    case ErrorType::interpolation_syntax:
      return f.msg;
    case ErrorType::interpolation_missing_option:
      return "Bad value substitution: option " + quote(f.option) + " in section " + quote(f.section) +
             " contains an interpolation key " + quote(f.reference) +
             " which is not a valid option name. Raw value: " + quote(f.rawval);
    case ErrorType::interpolation_depth:
      return "Recursion limit exceeded in value substitution: option " + quote(f.option) + " in section " +
             quote(f.section) + " contains an interpolation key which cannot be substituted in " +
             std::to_string(kMaxExpansionDepth) + " steps. Raw value: " + quote(f.rawval);
  }
  return {};
}

std::string decode_message(const std::string& source, std::string_view bytes, std::size_t start, std::size_t end,
                           const std::string& reason) {
  std::string m = "While reading from " + quote(source) + ": 'utf-8' codec can't decode ";
  if (end - start == 1) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02x", static_cast<unsigned char>(bytes[start]));
    m += "byte " + std::string(buf) + " in position " + std::to_string(start);
  } else {
    m += "bytes in position " + std::to_string(start) + "-" + std::to_string(end - 1);
  }
  return m + ": " + reason;
}

}  // namespace

ConfigError::ConfigError(ErrorType type, Fields fields)
    : Error(ErrorKind::config, message_for(type, fields)),
      type_(type),
      fields_(std::make_shared<const Fields>(std::move(fields))) {}

bool ConfigError::is_reading_error() const {
  return type_ == ErrorType::missing_section_header || type_ == ErrorType::duplicate_section ||
         type_ == ErrorType::duplicate_option || type_ == ErrorType::parsing;
}

TextDecodeError::TextDecodeError(std::string source, std::shared_ptr<const std::string> bytes, std::size_t start,
                                 std::size_t end, std::string reason)
    : Error(ErrorKind::text_decode, decode_message(source, *bytes, start, end, reason)),
      source_(std::move(source)),
      bytes_(std::move(bytes)),
      start_(start),
      end_(end),
      reason_(std::move(reason)) {}

}  // namespace quillon::config
