// The errors the core raises. Each kind corresponds to one host exception
// class, which the extension module raises in its place; the native program
// prints the message on one line of standard error. An error class that
// carries more than a message has a kind of its own, which no other class
// uses: the kind says which class to read it as.
#pragma once

#include <stdexcept>
#include <string>

namespace quillon {

enum class ErrorKind {
  os,                          // OsError: a file or directory could not be used (OSError with errno)
  default_config_dir_missing,  // FileNotFoundError with our own message
  transport,                   // the request could not be completed (ConnectionError)
  json_decode,                 // JsonDecodeError: the answer is not JSON (json.JSONDecodeError)
  key,                         // KeyLookupError: filter lookup of a missing key (KeyError)
  type,                        // a value of the wrong kind (TypeError)
  encoding,                    // TextEncodeError (form_encode.hpp): text that is not UTF-8 (UnicodeEncodeError)
  text_decode,                 // TextDecodeError (config_reader.hpp): a file that is not UTF-8 (UnicodeDecodeError)
  recursion,                   // compound queries that nest without end (RecursionError)
  config,                      // ConfigError (config_reader.hpp): the reader's own classes
  interrupted,                 // Ctrl-C during a blocking call (KeyboardInterrupt)
  value,                       // any other bad value (ValueError)
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

// A request that hit --max-time or --connect-timeout; the session adds the
// file it was made for.
class TimeLimitError : public Error {
 public:
  explicit TimeLimitError(std::string message) : Error(ErrorKind::transport, std::move(message)) {}
};

// A file system failure: errno and the path it concerns.
class OsError : public Error {
 public:
  OsError(int error_number, std::string path);
  int error_number() const { return errno_; }
  const std::string& path() const { return path_; }

 private:
  int errno_;
  std::string path_;
};

// Where the answer stopped being JSON.
class JsonDecodeError : public Error {
 public:
  JsonDecodeError(std::string reason, std::size_t position)
      : Error(ErrorKind::json_decode, reason + " (at byte " + std::to_string(position) + ")"),
        reason_(std::move(reason)),
        position_(position) {}
  const std::string& reason() const { return reason_; }
  std::size_t position() const { return position_; }

 private:
  std::string reason_;
  std::size_t position_;
};

// A filter lookup found no such key; `key` is the WTF-8 key.
class KeyLookupError : public Error {
 public:
  explicit KeyLookupError(std::string key) : Error(ErrorKind::key, "no key " + key), key_(std::move(key)) {}
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

// The process is to end with this status (after "Login failed", a usage
// error or --help). Front ends turn it into their own way of exiting.
struct ExitRequest {
  int status;
};

}  // namespace quillon
