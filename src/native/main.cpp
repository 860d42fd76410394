// The native program: the same run as the module's main(), without Python.
// Every way out is a status: no exception leaves main(), and Ctrl-C ends the
// process by SIGINT itself, after cleaning up, so that a shell loop around
// the program stops too.
#include <unistd.h>

#include <climits>
#include <csignal>
#include <string>

#include "base/errors.hpp"
#include "cli/file_report.hpp"
#include "cli/run_driver.hpp"
#include "client/https_transport.hpp"
#include "executable_path.hpp"
#include "native_front_end.hpp"
#include "text/unicode.hpp"

namespace {

std::string program_name(const char* argv0) {
  std::string path = quillon::unicode::escape_invalid_utf8(argv0 != nullptr ? argv0 : "quillon");
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The run and its exit status; reports its own failures on standard error.
int run(quillon::NativeFrontEnd& front_end, char** argv) {
  try {
    quillon::CurlTransport transport;
    quillon::run_main(front_end, transport, program_name(argv[0]), quillon::executable_path(argv[0]));
    front_end.flush();
    return 0;
  } catch (const quillon::ExitRequest& request) {
    front_end.flush();
    return request.status;
  } catch (const quillon::Error& error) {
    if (error.kind() == quillon::ErrorKind::interrupted) return quillon::report_interrupt(front_end);
    front_end.report_error(quillon::describe_for_operator(error));
    return 1;
  } catch (const std::exception& error) {
    front_end.report_error(error.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  quillon::install_interrupt_handler();
  try {
    quillon::NativeFrontEnd front_end(argc, argv);
    try {
      return run(front_end, argv);
    } catch (const quillon::Error& error) {
      // Output that could not be written at the end (flush): said once, status 1.
      if (error.kind() == quillon::ErrorKind::interrupted) return quillon::report_interrupt(front_end);
      front_end.report_error(error.what());
      return 1;
    }
  } catch (...) {
    // Out of memory before any output, or a failure while reporting one:
    // nothing sensible is left to say.
    return 1;
  }
}
