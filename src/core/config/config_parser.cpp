// Parsing: the lines of a configuration text into sections and keys, with
// the host reader's errors for what it rejects.
#include <cstring>
#include <memory>

#include "config/config_reader.hpp"
#include "config/reader_internals.hpp"
#include "text/unicode.hpp"
#include "text/utf8_diagnosis.hpp"

namespace quillon::config {
namespace {

bool ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F); }

// str.rstrip(), quick when the text ends in plain ASCII.
std::string_view rstrip(std::string_view s) {
  if (!s.empty()) {
    unsigned char last = static_cast<unsigned char>(s.back());
    if (last < 0x80 && !ascii_space(last)) return s;
  }
  return unicode::rstrip(s);
}

std::string_view strip(std::string_view s) {
  std::size_t begin = 0;
  while (begin < s.size() && static_cast<unsigned char>(s[begin]) < 0x80 && ascii_space(s[begin])) ++begin;
  return begin < s.size() && static_cast<unsigned char>(s[begin]) >= 0x80 ? unicode::strip(s.substr(begin))
                                                                          : rstrip(s.substr(begin));
}

}  // namespace

// One pass over the lines, in the host reader's order of tests: comment,
// blank, continuation, section header, missing header, key line, bad line.
class Reader::Parser {
 public:
  Parser(Reader& reader, std::string source)
      : reader_(reader), source_(std::move(source)), read_(++reader.read_count_) {}

  void run(std::string_view text) {
    // Without CR the line ends can be found with memchr alone.
    bool has_cr = std::memchr(text.data(), '\r', text.size()) != nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end;
      if (has_cr) {
        end = pos;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
      } else {
        const void* nl = std::memchr(text.data() + pos, '\n', text.size() - pos);
        end = nl ? static_cast<const char*>(nl) - text.data() : text.size();
      }
      std::size_t next = end;
      bool terminated = end < text.size();
      if (terminated) next += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
      ++lineno_;
      line(text.substr(pos, end - pos), terminated);
      pos = next;
    }
    join(*reader_.defaults_);
    for (auto& section : reader_.sections_) join(*section);
    if (!bad_lines_.empty()) fail(ErrorType::parsing, {});
  }

 private:
  using Section = Reader::Section;

  void line(std::string_view content, bool terminated) {
    // Leading white space: its length in code points is the indentation.
    std::size_t begin = 0, indent = 0;
    while (begin < content.size()) {
      unsigned char c = static_cast<unsigned char>(content[begin]);
      if (c < 0x80) {
        if (!ascii_space(c)) break;
        ++begin;
      } else {
        std::size_t p = begin;
        if (!unicode::is_space(unicode::next(content, p))) break;
        begin = p;
      }
      ++indent;
    }
    std::string_view value = rstrip(content.substr(begin));
    if (value.empty()) {  // blank: an empty line of the open value
      if (open_ != nullptr) append_to_open({});
      return;
    }
    if (value[0] == '#' || value[0] == ';') return;
    if (current_ != nullptr && open_ != nullptr && indent > indent_level_) {
      append_to_open(value);
      return;
    }
    indent_level_ = indent;
    std::size_t close = value.rfind(']');
    if (value[0] == '[' && close != std::string_view::npos && close >= 2) {
      header(value.substr(1, close - 1));
      return;
    }
    if (current_ == nullptr) {
      ConfigError::Fields f;
      f.lineno = lineno_;
      f.line = raw_line(content, terminated);
      fail(ErrorType::missing_section_header, std::move(f));
    }
    std::size_t delim = value.find_first_of("=:");
    if (delim == std::string_view::npos) {
      bad_lines_.emplace_back(lineno_, raw_line(content, terminated));
      return;
    }
    std::string_view name = rstrip(value.substr(0, delim));
    if (name.empty()) bad_lines_.emplace_back(lineno_, raw_line(content, terminated));
    key_line(unicode::lower(name), strip(value.substr(delim + 1)));
  }

  void header(std::string_view name) {
    open_ = nullptr;
    auto found = reader_.section_index_.find(name);
    if (found != reader_.section_index_.end()) {
      Section* section = reader_.sections_[found->second].get();
      if (section->read == read_) {
        ConfigError::Fields f;
        f.section = std::string(name);
        f.lineno = lineno_;
        fail(ErrorType::duplicate_section, std::move(f));
      }
      section->read = read_;  // read again by a later call: keys are replaced
      enter(section);
    } else if (name == kDefaultSection) {
      enter(reader_.defaults_.get());
    } else {
      auto section = std::make_unique<Section>();
      section->name = std::string(name);
      section->read = read_;
      Section* raw = section.get();
      reader_.sections_.push_back(std::move(section));
      reader_.section_index_.emplace(raw->name, reader_.sections_.size() - 1);
      enter(raw);
    }
  }

  void enter(Section* section) { current_ = section; }

  // Values of several lines lose the white space and empty lines at their end.
  void join(Section& section) {
    for (auto& option : section.options)
      if (option.read == read_) option.value.resize(rstrip(option.value).size());
  }

  void key_line(std::string key, std::string_view value) {
    Section& s = *current_;
    auto [found, added] = s.index.try_emplace(std::move(key), s.options.size());
    std::size_t i = found->second;
    if (added) {
      s.options.push_back({found->first, std::string(value), 0});
    } else {
      if (s.options[i].read == read_) {
        ConfigError::Fields f;
        f.section = s.name;
        f.option = found->first;
        f.lineno = lineno_;
        fail(ErrorType::duplicate_option, std::move(f));
      }
      s.options[i].value.assign(value);
    }
    auto& option = s.options[i];
    option.read = read_;
    // An empty key is noted as a bad line but still stored; it opens nothing.
    open_ = option.key.empty() ? nullptr : &option.value;
  }

  void append_to_open(std::string_view piece) {
    open_->push_back('\n');
    open_->append(piece);
  }

  static std::string raw_line(std::string_view content, bool terminated) {
    std::string line(content);
    if (terminated) line += '\n';
    return line;
  }

  [[noreturn]] void fail(ErrorType type, ConfigError::Fields f) {
    f.source = source_;
    if (type == ErrorType::parsing) f.bad_lines = std::move(bad_lines_);
    throw ConfigError(type, std::move(f));
  }

  Reader& reader_;
  std::string source_;
  unsigned read_;
  std::size_t lineno_ = 0;
  std::size_t indent_level_ = 0;
  Section* current_ = nullptr;
  // Value of the key whose lines may follow. Stays valid: its section's
  // option list grows only by a key line, which replaces it.
  std::string* open_ = nullptr;
  std::vector<std::pair<std::size_t, std::string>> bad_lines_;
};

void Reader::read_text(std::string_view text, std::string source) {
  std::size_t bad = unicode::first_invalid_utf8(text);
  if (bad != std::string_view::npos) {
    unicode::Utf8Fault fault = unicode::diagnose_utf8(text, bad);
    throw TextDecodeError(std::move(source), std::make_shared<const std::string>(text), fault.start, fault.end,
                          fault.reason);
  }
  Parser(*this, std::move(source)).run(text);
}

}  // namespace quillon::config
