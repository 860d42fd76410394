// The reader's lookups: sections by name, keys in a section and then in
// DEFAULT.
#include "config/config_reader.hpp"

#include "base/read_file.hpp"
#include "config/reader_internals.hpp"

namespace quillon::config {

Reader::Reader() : defaults_(std::make_unique<Section>()) { defaults_->name = kDefaultSection; }
Reader::~Reader() = default;
Reader::Reader(Reader&&) noexcept = default;
Reader& Reader::operator=(Reader&&) noexcept = default;

void Reader::read_path(const std::string& path, const std::function<void()>& check_interrupt) {
  read_text(read_file(path, check_interrupt), path);
}

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

}  // namespace quillon::config
