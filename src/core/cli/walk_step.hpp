// What both walks of the configuration directory (one file at a time, and
// parallel with --jobs) do for each file, written once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "client/controller_session.hpp"
#include "client/run_settings.hpp"
#include "json/json_value.hpp"

namespace quillon {

// The names of the ".cfg" files in `config_dir`, in the order it lists them.
std::vector<std::string> config_file_names(const std::string& config_dir);

// The paths a run walks: the FILE arguments, or else every ".cfg" file of
// the configuration directory. A file is named in output by its base name.
std::vector<std::string> config_file_paths(const RunSettings& settings);

// The file a FILE argument names, the way a shell finds a command: a path
// when it holds a "/" (relative to the working directory), otherwise a
// name in `config_dir`.
std::string config_file_path(std::string_view file, std::string_view config_dir);

// Whether a FILE can be run: OsError when it is missing, a directory, or not
// readable. A FIFO is left alone for the run to read.
void check_config_file(const std::string& path);

// One file's run: reads the file and its description, hands the description
// (with its line end; none when the file has no readable one) to `described`
// at once, so that it can be printed while the query runs, then runs the
// query. `check_interrupt` is called before anything is read or sent; what
// it throws ends the step. A failure before the query ran names the file.
json::Document run_config_file(ControllerSession& session, const std::string& path,
                               const std::function<void()>& check_interrupt,
                               const std::function<void(const std::optional<std::string>&)>& described);

}  // namespace quillon
