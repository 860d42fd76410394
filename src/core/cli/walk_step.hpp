// What both walks of the configuration directory (one file at a time, and
// parallel with --jobs) do for each file, written once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/controller_session.hpp"
#include "json/json_value.hpp"

namespace quillon {

// The names of the ".cfg" files in `config_dir`, in the order it lists them.
std::vector<std::string> config_file_names(const std::string& config_dir);

// One file's run: reads the file and its description, hands the description
// (with its line end; none when the file has no readable one) to `described`
// at once, so that it can be printed while the query runs, then runs the
// query. `check_interrupt` is called before anything is read or sent; what
// it throws ends the step. A failure before the query ran names the file.
json::Document run_config_file(ControllerSession& session, const std::string& path,
                               const std::function<void()>& check_interrupt,
                               const std::function<void(const std::optional<std::string>&)>& described);

}  // namespace quillon
