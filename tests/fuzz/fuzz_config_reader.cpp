// Any bytes as a configuration file: reading, listing and expanding every value.
#include <cstdint>
#include <string_view>

#include "base/errors.hpp"
#include "config/config_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillon::config::Reader reader;
  try {
    reader.read_text(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.cfg");
  } catch (const quillon::Error&) {
    return 0;
  }
  auto sections = reader.sections();
  sections.push_back("DEFAULT");
  for (const auto& section : sections) {
    try {
      for (const auto& option : reader.options(section)) {
        try {
          (void)reader.get(section, option);
        } catch (const quillon::Error&) {
        }
      }
    } catch (const quillon::Error&) {
    }
  }
  return 0;
}
