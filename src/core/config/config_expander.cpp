// %-expansion of values: "%%" and "%(key)s", as the host's basic
// interpolation does it, bounded in depth and in the bytes it produces.
#include <unordered_map>

#include "config/config_reader.hpp"
#include "config/reader_internals.hpp"
#include "text/unicode.hpp"

namespace quillon::config {

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
