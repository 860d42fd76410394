// Test doubles for the world behind the core's interfaces: a transport that
// answers from a script and records what was posted, a front end that records
// what the run printed, and a scratch directory of configuration files.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "cli/front_end.hpp"
#include "client/https_transport.hpp"
#include "client/run_settings.hpp"

namespace quillon::fakes {

// One posted form, its fields decoded (names and values as sent).
struct PostedForm {
  std::string url;
  std::vector<std::pair<std::string, std::string>> fields;

  std::string field(const std::string& name) const {
    for (const auto& [key, value] : fields)
      if (key == name) return value;
    return {};
  }
};

inline std::string percent_decode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Answers each post with what `answer` returns for the decoded form; every
// form is kept in `posted`. A login is answered with a CID numbered by login.
class ScriptedTransport : public Transport {
 public:
  std::function<std::string(const PostedForm&)> answer;
  std::vector<PostedForm> posted;
  int logins = 0;

  // Called with each form before it is answered, and the request's interrupt
  // check: a test can hold a request open until the run stops it.
  std::function<void(const PostedForm&, const std::function<void()>&)> before_answer;

  Response post(const std::string& url, const std::string& form_body, const std::function<void()>& check_interrupt,
                RequestObserver*) override {
    PostedForm form{url, {}};
    std::string_view body = form_body;
    while (!body.empty()) {
      std::size_t amp = body.find('&');
      std::string_view pair = body.substr(0, amp);
      std::size_t eq = pair.find('=');
      form.fields.emplace_back(percent_decode(pair.substr(0, eq)),
                               eq == std::string_view::npos ? "" : percent_decode(pair.substr(eq + 1)));
      body = amp == std::string_view::npos ? std::string_view() : body.substr(amp + 1);
    }
    posted.push_back(form);
    if (before_answer) before_answer(form, check_interrupt);
    if (form.field("action") == "login" && !answer_logins_too)
      return {R"({"CID": "cid-)" + std::to_string(++logins) + "\"}", 200, url};
    return {answer(form), 200, url};
  }

  bool answer_logins_too = false;  // hand logins to `answer` as well
};

// Records the run's output in order; exit() throws ExitRequest, as in the front ends.
class RecordingFrontEnd : public FrontEnd {
 public:
  std::vector<std::string> args;
  std::string out;  // descriptions, results and the program's own lines, in order
  std::string usage;
  std::string notes;                                        // what went to standard error
  std::vector<std::pair<std::size_t, std::size_t>> hidden;  // hide_argument's (index, offset)
  std::vector<std::size_t> flushed_at;                      // the size of `out` at each flush

  std::vector<std::string> arguments() override { return args; }
  void print(std::string_view text) override { out += text; }
  void print_description(std::string_view text) override { out += text; }
  void write_result(std::string_view text) override { out += text; }
  void write_usage(std::string_view text, bool) override { usage += text; }
  void note(std::string_view line) override { notes += line; }
  std::string ask_line(std::string_view) override { throw Error(ErrorKind::value, "no prompt expected"); }
  std::string ask_password(std::string_view) override { throw Error(ErrorKind::value, "no prompt expected"); }
  [[noreturn]] void exit(int status) override { throw ExitRequest{status}; }
  void check_interrupt() override {}
  void hide_argument(std::size_t index, std::size_t offset) override { hidden.emplace_back(index, offset); }
  void flush() override { flushed_at.push_back(out.size()); }
};

// A fresh directory of files for one test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillon-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(path_ / name) << text;
    return (path_ / name).string();
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

inline RunSettings settings_for(const ScratchDir& dir) {
  return RunSettings::for_controller("10.0.0.5", "admin", "pw&=", dir.path());
}

}  // namespace quillon::fakes
