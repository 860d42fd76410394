#include "cli/file_report.hpp"

#include <cerrno>
#include <new>

#include "base/errors.hpp"
#include "cli/saved_results.hpp"
#include "client/controller_session.hpp"
#include "config/config_reader.hpp"
#include "print/json_writer.hpp"
#include "print/printer.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

// The OSError subclass the host picks for an errno.
std::string_view os_error_name(int error_number) {
  switch (error_number) {
    case ENOENT:
      return "FileNotFoundError";
    case EACCES:
    case EPERM:
      return "PermissionError";
    case ENOTDIR:
      return "NotADirectoryError";
    case EISDIR:
      return "IsADirectoryError";
    case EEXIST:
      return "FileExistsError";
    case EINTR:
      return "InterruptedError";
    default:
      return "OSError";
  }
}

std::string_view config_error_name(config::ErrorType type) {
  switch (type) {
    case config::ErrorType::missing_section_header:
      return "MissingSectionHeaderError";
    case config::ErrorType::duplicate_section:
      return "DuplicateSectionError";
    case config::ErrorType::duplicate_option:
      return "DuplicateOptionError";
    case config::ErrorType::parsing:
      return "ParsingError";
    case config::ErrorType::no_section:
      return "NoSectionError";
    case config::ErrorType::no_option:
      return "NoOptionError";
    case config::ErrorType::interpolation_syntax:
      return "InterpolationSyntaxError";
    case config::ErrorType::interpolation_missing_option:
      return "InterpolationMissingOptionError";
    case config::ErrorType::interpolation_depth:
      return "InterpolationDepthError";
  }
  return "Error";
}

}  // namespace

std::string_view host_kind_name(const Error& error) {
  switch (error.kind()) {
    case ErrorKind::os:
      return os_error_name(static_cast<const OsError&>(error).error_number());
    case ErrorKind::default_config_dir_missing:
      return "FileNotFoundError";
    case ErrorKind::transport:
      return "ConnectionError";
    case ErrorKind::json_decode:
      return "JSONDecodeError";
    case ErrorKind::key:
      return "KeyError";
    case ErrorKind::type:
      return "TypeError";
    case ErrorKind::encoding:
      return "UnicodeEncodeError";
    case ErrorKind::text_decode:
      return "UnicodeDecodeError";
    case ErrorKind::recursion:
      return "RecursionError";
    case ErrorKind::config:
      return config_error_name(static_cast<const config::ConfigError&>(error).type());
    case ErrorKind::interrupted:
      return "KeyboardInterrupt";
    case ErrorKind::memory:
      return "MemoryError";
    case ErrorKind::value:
      return "ValueError";
  }
  return "Error";
}

std::string host_message(const Error& error) {
  if (error.kind() != ErrorKind::key) return error.what();
  return repr::quoted(static_cast<const KeyLookupError&>(error).key());  // str(KeyError(key)) is the key's repr
}

std::string describe_for_operator(const Error& error) {
  std::string line = error.where();
  if (!line.empty()) line += ": ";
  // "... is not JSON" says the kind already.
  const bool kind_told = error.kind() == ErrorKind::json_decode && !error.context().empty();
  if (!kind_told) {
    line += host_kind_name(error);
    line += ": ";
  }
  line += error.explanation().empty() ? host_message(error) : error.explanation();
  return line;
}

std::pair<std::string, std::string> describe_failure(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const LoginRefused& refused) {
    return {"LoginFailed", refused.what()};
  } catch (const Error& error) {
    return {std::string(host_kind_name(error)), host_message(error)};
  } catch (const std::bad_alloc&) {
    return {"MemoryError", "out of memory"};
  } catch (const std::exception& error) {
    return {"Error", error.what()};
  }
}

void FileReport::description(const std::optional<std::string>& text) {
  description_ = text;
  if (!settings_.json && settings_.compare_dir.empty() && text) front_end_.print_description(*text);
}

std::optional<std::string_view> FileReport::description_text() const {
  if (!description_) return std::nullopt;
  std::string_view text = *description_;
  if (text.ends_with('\n')) text.remove_suffix(1);
  return text;
}

void FileReport::write(std::string_view chunk) {
  front_end_.check_interrupt();  // a large result into a slow pipe stops promptly
  front_end_.write_result(chunk);
}

void FileReport::result(std::string_view file, const json::Value& value) {
  auto sink = [this](std::string_view chunk) { write(chunk); };
  const std::function<void()> check_interrupt = [this] { front_end_.check_interrupt(); };
  try {
    if (!settings_.compare_dir.empty()) {
      if (write_differences(settings_.compare_dir, file, value, settings_.json, sink, check_interrupt)) differs_ = true;
    } else if (settings_.json) {
      write_json_result_line(unicode::escape_invalid_utf8(file), description_text(), value, sink);
    } else {
      pretty_print(value, sink);
      front_end_.print("\n\n");
    }
  } catch (const std::bad_alloc&) {
    throw out_of_memory(std::string(file));
  }
  description_.reset();
  front_end_.flush();
  if (!settings_.save_dir.empty()) save_result(settings_.save_dir, file, value, check_interrupt);
}

void FileReport::failure(std::string_view file, const std::exception_ptr& failure) {
  if (!settings_.json) return;
  auto [kind, message] = describe_failure(failure);
  write_json_error_line(unicode::escape_invalid_utf8(file), description_text(), kind, message,
                        [this](std::string_view chunk) { write(chunk); });
  description_.reset();
  front_end_.flush();
}

}  // namespace quillon
