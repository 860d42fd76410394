// The native program: the same run as the module's main(), without Python.
// Every way out is a status: no exception leaves main(), and a stop signal
// (Ctrl-C, SIGTERM, SIGHUP) ends the process by that signal itself, after
// cleaning up, so that a shell loop around the program stops too.
#include <sys/prctl.h>

#include <string>

#include "base/errors.hpp"
#include "base/paths.hpp"
#include "cli/file_report.hpp"
#include "cli/run_driver.hpp"
#include "client/https_transport.hpp"
#include "executable_path.hpp"
#include "native_front_end.hpp"
#include "stop_signals.hpp"
#include "text/unicode.hpp"

namespace {

std::string program_name(const char* argv0) {
  return std::string(quillon::base_name(quillon::unicode::escape_invalid_utf8(argv0 != nullptr ? argv0 : "quillon")));
}

// The run and its exit status; reports its own failures on standard error.
int run(quillon::NativeFrontEnd& front_end, const quillon::StopSignals& stop, char** argv) {
  try {
    quillon::CurlTransport transport;
    quillon::run_main(front_end, transport, program_name(argv[0]), quillon::executable_path(argv[0]));
    front_end.flush();
    return 0;
  } catch (const quillon::ExitRequest& request) {
    front_end.flush();
    return request.status;
  } catch (const quillon::Error& error) {
    // After a stop signal, whatever a cut-short call made of it is the stop.
    if (error.kind() == quillon::ErrorKind::interrupted || stop.received() != 0) front_end.end_by_stop_signal();
    front_end.report_error(quillon::describe_for_operator(error));
    return 1;
  } catch (const std::exception& error) {
    front_end.report_error(error.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else, so that every thread inherits the mask.
  quillon::StopSignals::block();
  // Before any password is read: a core file would hold it. Other processes
  // of the same user can no longer read our memory or environment either.
  ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  quillon::keep_sigpipe_for_standard_output();
  try {
    quillon::StopSignals stop;
    quillon::NativeFrontEnd front_end(argc, argv, stop);
    int status;
    try {
      status = run(front_end, stop, argv);
    } catch (const quillon::Error& error) {
      // Output that could not be written at the end (flush): said once, status 1.
      if (error.kind() == quillon::ErrorKind::interrupted) front_end.end_by_stop_signal();
      front_end.report_error(error.what());
      status = 1;
    }
    // A stop signal that came as the run ended still ends the process.
    if (stop.received() != 0) front_end.end_by_stop_signal();
    return status;
  } catch (...) {
    // Out of memory before any output, or a failure while reporting one:
    // nothing sensible is left to say.
    return 1;
  }
}
