// NUL-separated arguments through the command-line parser; accepted numbers
// must be within the option table's limits.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/option_table.hpp"

namespace {

template <typename Number>
void check_range(const std::optional<Number>& value, double minimum, double maximum) {
  if (value && !(*value >= minimum && *value <= maximum)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t end = input.find('\0', start);
    if (end == std::string_view::npos) end = input.size();
    args.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  const quillon::CommandLineOutcome outcome = quillon::parse_command_line(args, "quillon", 78);
  if ((outcome.exit_status == 2) != (outcome.action == quillon::CommandLineOutcome::Action::usage_error))
    __builtin_trap();
  namespace cl = quillon::command_line;
  const quillon::CommandLineOptions& o = outcome.options;
  check_range(o.connect_timeout, 0, cl::max_seconds);
  check_range(o.max_time, 0, cl::max_seconds);
  check_range(o.retry_delay, 0, cl::max_seconds);
  check_range(o.retry, 0, cl::max_retries);
  check_range(o.jobs, 1, cl::max_jobs);
  (void)quillon::parse_command_line(args, "q", 20);
  return 0;
}
