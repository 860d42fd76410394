// The controller client: the login that yields a CID, and the query runner
// that turns one configuration file (simple or compound) into requests and a
// narrowed result.
#pragma once

#include <string>
#include <vector>

#include "cli/front_end.hpp"
#include "client/https_transport.hpp"
#include "json/json_value.hpp"

namespace quillon {

// How deep compound queries may nest before the run is stopped.
constexpr std::size_t max_compound_depth = 100;

class ControllerClient {
 public:
  ControllerClient(Transport& transport, FrontEnd& front_end) : transport_(transport), front_end_(front_end) {}

  // Logs in and returns the answer's "CID" member. An unusable answer prints
  // "Login failed" and ends the run with status 1; a transport failure throws.
  json::Document get_norvane_cid(const std::string& controller_ip, const std::string& username,
                                 const std::string& password);

  // Runs one configuration file against the controller and returns its
  // narrowed answer (for a compound query, one {"object", "results"} per element).
  json::Document norvane_api(const std::string& controller_ip, const std::string& username, const std::string& password,
                             const std::string& config_dir, const std::string& config_file);

 private:
  struct OpenFile {
    unsigned long long device, inode;
    std::string path;
  };
  json::Document run_query(const std::string& controller_ip, const std::string& username, const std::string& password,
                           const std::string& config_dir, const std::string& config_file, std::vector<OpenFile>& chain);
  std::string post(const std::string& url, const std::string& body);

  Transport& transport_;
  FrontEnd& front_end_;
};

}  // namespace quillon
