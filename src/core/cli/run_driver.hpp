// The program's command: read the command line, ask for what is missing,
// log in once, then walk the configuration directory and print every result.
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.hpp"
#include "client/https_transport.hpp"

namespace quillon {

struct RunSettings {
  std::string controller_ip, username, password, config_dir;
};

// The whole run. `prog` is the program name for usage messages and
// `own_file` the path the default configuration directory is found beside.
void run_main(FrontEnd& front_end, Transport& transport, const std::string& prog, const std::string& own_file);

// The second half: one description, result and two empty lines per ".cfg" file.
void walk_config_dir(FrontEnd& front_end, Transport& transport, const RunSettings& settings);

// os.listdir: every entry but "." and "..", in the file system's order.
std::vector<std::string> list_directory(const std::string& path);

}  // namespace quillon
