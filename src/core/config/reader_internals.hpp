// What the reader's parts share: a section as it is stored, and the limits
// of expansion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/config_reader.hpp"

namespace quillon::config {

constexpr std::string_view kDefaultSection = "DEFAULT";
constexpr int kMaxExpansionDepth = 10;
// Expansion can grow a value exponentially (ten levels of many references
// each); the host would exhaust memory. Past this many bytes produced by one
// get() we stop with an error instead.
constexpr std::size_t kMaxExpansionBytes = std::size_t{256} << 20;

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

}  // namespace quillon::config
