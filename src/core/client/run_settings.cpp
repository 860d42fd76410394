#include "client/run_settings.hpp"

#include "client/https_transport.hpp"

namespace quillon {

RunSettings RunSettings::for_controller(std::string controller_ip, std::string username, std::string password,
                                        std::string config_dir) {
  RunSettings settings;
  settings.api_url = controller_api_url(controller_ip);
  settings.controller_ip = std::move(controller_ip);
  settings.username = std::move(username);
  settings.password = std::move(password);
  settings.config_dir = std::move(config_dir);
  return settings;
}

}  // namespace quillon
