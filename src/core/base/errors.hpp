// The errors the core raises. Each kind corresponds to one host exception
// class, which the extension module raises in its place; the native program
// prints the message on one line of standard error. An error class that
// carries more than a message has a kind of its own, which no other class
// uses: the kind says which class to read it as.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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
  memory,                      // memory ran out while a file ran (MemoryError)
  value,                       // any other bad value (ValueError)
};

// `what()` is the host's str() of the same exception, so that both front
// ends can show it unchanged. Where it happened travels beside it: layers
// the error passes through add to its context (catch by reference, add,
// `throw;`), so the message the operator reads can say which file, which
// answer, which filter step.
class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, std::string message) : std::runtime_error(std::move(message)), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

  // The configuration file being run when it failed; called innermost first,
  // so a compound query's chain reads from the file the operator ran.
  void add_file(std::string name) { files_.insert(files_.begin(), std::move(name)); }
  // What was being done, in the operator's words (`filters "a, b"`); called
  // innermost first, like add_file.
  void add_context(std::string what) { context_.insert(context_.begin(), std::move(what)); }
  // What failed in the operator's words, where the host's message is
  // written for a programmer ("no key 'id' in a result" for KeyError('id')).
  void explain(std::string words) { explanation_ = std::move(words); }
  const std::vector<std::string>& files() const { return files_; }
  const std::vector<std::string>& context() const { return context_; }
  const std::string& explanation() const { return explanation_; }
  // The file chain and the context as one text: "a.cfg → b.list: filters \"x\"".
  std::string where() const;

 private:
  ErrorKind kind_;
  std::vector<std::string> files_;
  std::vector<std::string> context_;
  std::string explanation_;
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

// Where the answer stopped being JSON. The decoder's fast path throws it
// with a byte position only; what leaves the decoder carries the document
// and says what the host says: its message, the position in characters and
// the line and column the host counts (json/decode_error.hpp).
class JsonDecodeError : public Error {
 public:
  JsonDecodeError(std::string reason, std::size_t position)
      : Error(ErrorKind::json_decode, reason + " (at byte " + std::to_string(position) + ")"),
        reason_(std::move(reason)),
        position_(position) {}
  // `position` in characters of `document`, which must reach that far;
  // `line` and `column` (1-based, in characters) go into the message.
  JsonDecodeError(std::string reason, std::size_t position, std::size_t line, std::size_t column,
                  std::shared_ptr<const std::string> document);

  const std::string& reason() const { return reason_; }  // the host's msg
  std::size_t position() const { return position_; }
  // The answer's text as the host decodes it (UTF-8); null from the fast path.
  const std::shared_ptr<const std::string>& document() const { return document_; }

 private:
  std::string reason_;
  std::size_t position_;
  std::shared_ptr<const std::string> document_;  // shared: exceptions are copied
};

// A filter lookup found no such key; `key` is the WTF-8 key.
class KeyLookupError : public Error {
 public:
  explicit KeyLookupError(std::string key) : Error(ErrorKind::key, "no key " + key), key_(std::move(key)) {}
  const std::string& key() const { return key_; }

 private:
  std::string key_;
};

// Memory ran out while `file` ran. Made once the failed allocation's work is
// freed (the answer, the tree), so there is enough left to say so.
Error out_of_memory(std::string file);

// The process is to end with this status (after "Login failed", a usage
// error or --help). Front ends turn it into their own way of exiting.
struct ExitRequest {
  int status;
};

}  // namespace quillon
