// The program's command: read the command line, ask for what is missing, log
// in once to check the credentials, then walk the configuration directory (or
// the FILE arguments) and print every result, or how it changed (--compare). Each file logs in again for a CID of its
// own (and each file a compound query runs first does too).
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.hpp"
#include "cli/front_end.hpp"
#include "client/https_transport.hpp"
#include "client/request_log.hpp"
#include "client/run_settings.hpp"

namespace quillon {

// The whole run. `prog` is the program name for usage messages and
// `own_file` the path the default configuration directory is found beside.
// A refused login prints "Login failed" and ends the run with status 1;
// differences found by --compare end it with status 3.
void run_main(FrontEnd& front_end, Transport& transport, const std::string& prog, const std::string& own_file);

// The settings of a run: the command line's values, prompts for a missing
// address and password, and the defaults. A FILE that cannot be run ends the
// run as a usage error (status 2), before any prompt.
RunSettings resolve_settings(FrontEnd& front_end, const CommandLineOptions& options, const std::string& own_file,
                             std::string_view prog);

// The second half: one description, result and two empty lines per ".cfg"
// file (or per FILE). A refused login reaches the caller as LoginRefused.
// Returns whether --compare found a difference.
bool walk_config_dir(FrontEnd& front_end, Transport& transport, const RunSettings& settings,
                     const RequestLog* log = nullptr);

}  // namespace quillon
