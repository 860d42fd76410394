// Everything one run needs, resolved once from the command line and the
// prompts (or from a module function's arguments) and then passed whole:
// nothing below the front ends reads options one by one.
#pragma once

#include <string>
#include <vector>

#include "client/https_transport.hpp"

namespace quillon {

struct RunSettings {
  std::string controller_ip;  // as the operator gave it
  std::string username;
  std::string password;    // never printed, traced or written anywhere
  std::string config_dir;  // where compound queries find the files they name
  std::string api_url;     // "https://" + controller_ip + "/v1/api", built once

  // Time limits, retries and certificate checks for every request.
  TransportOptions transport;

  // --jobs: files (and compound elements) run this many at once, each worker
  // on a connection it keeps; 0 runs one request at a time, each on a new one.
  unsigned jobs = 0;
  bool verbose = false;  // trace every request on standard error
  bool json = false;     // JSON Lines on standard output instead of the printed results

  // The FILE arguments as paths, run in this order; when empty, every ".cfg"
  // file of config_dir in the order it lists them.
  std::vector<std::string> files;
  std::string save_dir;     // --save: each result is written there; empty without it
  std::string compare_dir;  // --compare: each result is compared with the one saved there

  // Settings for a controller address, with the API URL built from it.
  static RunSettings for_controller(std::string controller_ip, std::string username, std::string password,
                                    std::string config_dir = {});
};

}  // namespace quillon
