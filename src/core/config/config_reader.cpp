#include "config/config_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon::config {

namespace {

constexpr std::string_view kDefaultSection = "DEFAULT";
constexpr int kMaxExpansionDepth = 10;
// Expansion can grow a value exponentially (ten levels of many references
// each); the host would exhaust memory. Past this many bytes produced by one
// get() we stop with an error instead.
constexpr std::size_t kMaxExpansionBytes = std::size_t{256} << 20;

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

// Where and why the host's UTF-8 decoder stops at the malformed byte `start`.
void describe_malformed(std::string_view b, std::size_t start, std::size_t& end, std::string& reason) {
  unsigned char c = static_cast<unsigned char>(b[start]);
  if (c < 0xC2 || c > 0xF4) {
    end = start + 1;
    reason = "invalid start byte";
    return;
  }
  int n = c <= 0xDF ? 1 : c <= 0xEF ? 2 : 3;
  unsigned char lo = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
  unsigned char hi = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
  std::size_t k = 1;
  for (; k <= static_cast<std::size_t>(n) && start + k < b.size(); ++k) {
    unsigned char t = static_cast<unsigned char>(b[start + k]);
    if (k == 1 ? (t < lo || t > hi) : (t < 0x80 || t > 0xBF)) break;
  }
  if (start + k >= b.size()) {
    end = b.size();
    reason = "unexpected end of data";
  } else {
    end = start + k;
    reason = "invalid continuation byte";
  }
}

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

std::string quote(std::string_view text) {
  std::string out;
  std::size_t bad = unicode::first_invalid_utf8(text);
  if (bad == std::string_view::npos) {
    repr::append_text(out, text);
    return out;
  }
  // Each byte of a malformed sequence stands for itself, as surrogateescape
  // decodes file names.
  std::string decoded;
  std::size_t pos = 0;
  while (bad != std::string_view::npos) {
    decoded.append(text.substr(pos, bad - pos));
    unicode::append(decoded, 0xDC00 + static_cast<unsigned char>(text[bad]));
    pos = bad + 1;
    std::size_t next = unicode::first_invalid_utf8(text.substr(pos));
    bad = next == std::string_view::npos ? next : pos + next;
  }
  decoded.append(text.substr(pos));
  repr::append_text(out, decoded);
  return out;
}

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
    : Error(ErrorKind::value, decode_message(source, *bytes, start, end, reason)),
      source_(std::move(source)),
      bytes_(std::move(bytes)),
      start_(start),
      end_(end),
      reason_(std::move(reason)) {}

// ---------------------------------------------------------------------------

struct Reader::Section {
  struct Option {
    std::string key;
    std::string value;
    unsigned read = 0;  // which read_text call stored it last
  };
  std::string name;
  std::vector<Option> options;
  std::unordered_map<std::string, std::size_t> index;
  unsigned read = 0;  // which read_text call created it

  const std::string* find(std::string_view key) const {
    auto it = index.find(std::string(key));
    return it == index.end() ? nullptr : &options[it->second].value;
  }
};

Reader::Reader() : defaults_(std::make_unique<Section>()) { defaults_->name = kDefaultSection; }
Reader::~Reader() = default;
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;

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
    std::size_t end;
    std::string reason;
    describe_malformed(text, bad, end, reason);
    throw TextDecodeError(std::move(source), std::make_shared<const std::string>(text), bad, end, std::move(reason));
  }
  Parser(*this, std::move(source)).run(text);
}

void Reader::read_path(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw OsError(errno, path);
  std::string data;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) data.reserve(static_cast<std::size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      throw OsError(err, path);
    }
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  read_text(data, path);
}

// ---------------------------------------------------------------------------

const Reader::Section* Reader::find_section(std::string_view name) const {
  auto it = section_index_.find(name);
  return it == section_index_.end() ? nullptr : sections_[it->second].get();
}

const std::string* Reader::lookup(const Section* section, std::string_view key) const {
  if (section != nullptr)
    if (const std::string* v = section->find(key)) return v;
  return defaults_->find(key);
}

bool Reader::has_section(std::string_view name) const { return find_section(name) != nullptr; }

std::vector<std::string> Reader::sections() const {
  std::vector<std::string> names;
  names.reserve(sections_.size());
  for (const auto& s : sections_) names.push_back(s->name);
  return names;
}

std::vector<std::string> Reader::options(std::string_view name) const {
  const Section* section = find_section(name);
  if (section == nullptr) {
    ConfigError::Fields f;
    f.section = std::string(name);
    throw ConfigError(ErrorType::no_section, std::move(f));
  }
  std::vector<std::string> keys;
  keys.reserve(section->options.size() + defaults_->options.size());
  for (const auto& o : section->options) keys.push_back(o.key);
  for (const auto& o : defaults_->options)
    if (section->find(o.key) == nullptr) keys.push_back(o.key);
  return keys;
}

// Left-to-right %-expansion of one value. A referenced value holding "%" is
// expanded one level deeper; results per (key, level) are reused, so many
// references to the same key cost one expansion.
class Reader::Expander {
 public:
  Expander(const Reader& reader, const Section* section, std::string_view section_name, std::string option,
           const std::string& rawval)
      : reader_(reader), section_(section), section_name_(section_name), option_(std::move(option)), rawval_(rawval) {}

  void expand(std::string_view rest, int depth, std::string& out) {
    if (depth > kMaxExpansionDepth) {
      ConfigError::Fields f = base();
      f.rawval = rawval_;
      throw ConfigError(ErrorType::interpolation_depth, std::move(f));
    }
    while (!rest.empty()) {
      std::size_t p = rest.find('%');
      if (p == std::string_view::npos) {
        emit(out, rest);
        return;
      }
      emit(out, rest.substr(0, p));
      rest.remove_prefix(p);
      char c = rest.size() > 1 ? rest[1] : '\0';
      if (c == '%') {
        emit(out, "%");
        rest.remove_prefix(2);
      } else if (c == '(') {
        std::size_t close = rest.find(')', 2);
        if (close == std::string_view::npos || close == 2 || close + 1 >= rest.size() || rest[close + 1] != 's')
          syntax_error("bad interpolation variable reference " + quote(rest));
        std::string var = unicode::lower(rest.substr(2, close - 2));
        rest.remove_prefix(close + 2);
        const std::string* v = reader_.lookup(section_, var);
        if (v == nullptr) {
          ConfigError::Fields f = base();
          f.rawval = rawval_;
          f.reference = std::move(var);
          throw ConfigError(ErrorType::interpolation_missing_option, std::move(f));
        }
        if (v->find('%') == std::string::npos) {
          emit(out, *v);
          continue;
        }
        std::string memo_key = static_cast<char>(depth + 1) + var;
        auto it = memo_.find(memo_key);
        if (it == memo_.end()) {
          std::string sub;
          expand(*v, depth + 1, sub);
          it = memo_.emplace(std::move(memo_key), std::move(sub)).first;
        }
        emit(out, it->second);
      } else {
        syntax_error("'%' must be followed by '%' or '(', found: " + quote(rest));
      }
    }
  }

 private:
  ConfigError::Fields base() const {
    ConfigError::Fields f;
    f.option = option_;
    f.section = std::string(section_name_);
    return f;
  }

  [[noreturn]] void syntax_error(std::string msg) const {
    ConfigError::Fields f = base();
    f.msg = std::move(msg);
    throw ConfigError(ErrorType::interpolation_syntax, std::move(f));
  }

  void emit(std::string& out, std::string_view text) {
    produced_ += text.size();
    if (produced_ > kMaxExpansionBytes)
      throw Error(ErrorKind::value, "Value substitution of option " + quote(option_) + " in section " +
                                        quote(section_name_) + " produces more than " +
                                        std::to_string(kMaxExpansionBytes) + " bytes");
    out.append(text);
  }

  const Reader& reader_;
  const Section* section_;
  std::string_view section_name_;
  std::string option_;
  const std::string& rawval_;
  std::unordered_map<std::string, std::string> memo_;
  std::size_t produced_ = 0;
};

std::string Reader::get(std::string_view section_name, std::string_view option) const {
  const Section* section = find_section(section_name);
  if (section == nullptr && section_name != kDefaultSection) {
    ConfigError::Fields f;
    f.section = std::string(section_name);
    throw ConfigError(ErrorType::no_section, std::move(f));
  }
  std::string key = unicode::lower(option);
  const std::string* raw = lookup(section, key);
  if (raw == nullptr) {
    ConfigError::Fields f;
    f.option = std::move(key);
    f.section = std::string(section_name);
    throw ConfigError(ErrorType::no_option, std::move(f));
  }
  std::string out;
  Expander(*this, section, section_name, std::move(key), *raw).expand(*raw, 1, out);
  return out;
}

}  // namespace quillon::config
