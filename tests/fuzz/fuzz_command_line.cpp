// NUL-separated arguments through the command-line parser.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    args.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  (void)quillon::parse_command_line(args, "quillon", 78);
  (void)quillon::parse_command_line(args, "q", 20);
  return 0;
}
