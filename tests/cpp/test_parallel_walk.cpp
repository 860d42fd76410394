// The parallel walk (--jobs) against scripted controllers, one per worker:
// the same output and error as one at a time, the failure and interrupt
// paths. These run under AddressSanitizer and ThreadSanitizer too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "cli/file_report.hpp"
#include "cli/parallel_walk.hpp"
#include "cli/run_driver.hpp"
#include "fakes.hpp"

using namespace quillon;
using fakes::RecordingFrontEnd;
using fakes::ScratchDir;
using fakes::ScriptedTransport;
using fakes::settings_for;

namespace {

// A directory of simple and compound queries, one of which may fail.
struct ParallelCase {
  ScratchDir dir;
  // `unreadable`: that file is a directory, which fails before its query runs.
  explicit ParallelCase(int files, int failing = -1, int unreadable = -1) {
    dir.write("names.list", "[default]\nfilters = results, name\n[norvane]\naction = names\n");
    if (unreadable >= 0) std::filesystem::create_directory(dir.path() + "/f" + std::to_string(unreadable) + ".cfg");
    for (int i = 0; i < files; ++i) {
      std::string n = std::to_string(i);
      std::string filters = i == failing ? "results, missing" : "results";
      std::string compound = i % 3 == 0 ? "item = output(names.list)\n" : "";
      if (i == unreadable) continue;
      dir.write("f" + n + ".cfg", "[default]\ndescription = file " + n + "\nfilters = " + filters +
                                      "\n[norvane]\naction = q" + n + "\n" + compound);
    }
  }
  static std::string answer(const fakes::PostedForm& form) {
    if (form.field("action") == "names") return R"({"results": [{"name": "x"}, {"name": "y"}, {"name": "z"}]})";
    return R"({"results": [{"a": ")" + form.field("action") + form.field("item") + R"("}]})";
  }
  // The output and the error line of a run, one at a time or with `jobs` workers.
  std::pair<std::string, std::string> run(unsigned jobs) const {
    RunSettings settings = settings_for(dir);
    settings.jobs = jobs;
    RecordingFrontEnd front_end;
    std::string error;
    try {
      if (jobs == 0) {
        ScriptedTransport transport;
        transport.answer = answer;
        walk_config_dir(front_end, transport, settings);
      } else {
        walk_config_dir_in_parallel(front_end, settings, [] {
          auto transport = std::make_unique<ScriptedTransport>();
          transport->answer = answer;
          return transport;
        });
      }
    } catch (const Error& e) {
      error = describe_for_operator(e);
    }
    return {front_end.out, error};
  }
};

TEST(ParallelWalkThreads, PrintsExactlyWhatTheSequentialWalkPrints) {
  ParallelCase files(12);
  auto sequential = files.run(0);
  EXPECT_NE(sequential.first.find("'a': 'q0y'"), std::string::npos);
  for (unsigned jobs : {1u, 3u, 8u}) EXPECT_EQ(files.run(jobs), sequential) << jobs;
}

// The same output and the same error line, naming the same file, whether the
// failure is a file's own query, a compound query's elements (run on other
// workers) or a file that cannot be read.
TEST(ParallelWalkThreads, EndsAtTheFirstFailingFileInDirectoryOrder) {
  struct Case {
    int failing, unreadable;
    std::string error;
  };
  const std::string missing =
      ": filters \"results, missing\": step \"missing\": KeyError: no key 'missing' in a result";
  const std::vector<Case> cases = {
      {5, -1, "f5.cfg" + missing},
      {6, -1, "f6.cfg" + missing},
      {-1, 4, "f4.cfg: IsADirectoryError: [Errno 21] Is a directory: '"},
  };
  for (const Case& c : cases) {
    ParallelCase files(10, c.failing, c.unreadable);
    auto sequential = files.run(0);
    EXPECT_EQ(sequential.second.substr(0, c.error.size()), c.error);
    for (unsigned jobs : {2u, 8u}) EXPECT_EQ(files.run(jobs), sequential) << jobs;
  }
}

// One at a time, a compound query stops at its first failing element; with
// workers, no element after it is sent once the failure is known.
TEST(ParallelWalkThreads, NoElementIsSentAfterAFailingOne) {
  ScratchDir dir;
  dir.write("names.list", "[default]\nfilters = results, name\n[norvane]\naction = names\n");
  dir.write("details.cfg", "[default]\nfilters = results, size\n[norvane]\naction = show\nitem = output(names.list)\n");
  const std::string six_names =
      R"({"results": [{"name": "a"}, {"name": "b"}, {"name": "c"}, {"name": "d"}, {"name": "e"}, {"name": "f"}]})";
  std::atomic<int> shown{0};
  auto answer = [&](const fakes::PostedForm& form) -> std::string {
    if (form.field("action") == "names") return six_names;
    ++shown;
    return R"({"results": [{"other": 1}]})";  // no "size": every element fails
  };
  for (unsigned jobs : {0u, 1u, 3u}) {
    shown = 0;
    RunSettings settings = settings_for(dir);
    settings.jobs = jobs;
    RecordingFrontEnd front_end;
    ScriptedTransport transport;
    transport.answer = answer;
    EXPECT_THROW(jobs == 0 ? walk_config_dir(front_end, transport, settings)
                           : walk_config_dir_in_parallel(front_end, settings,
                                                         [&] {
                                                           auto mine = std::make_unique<ScriptedTransport>();
                                                           mine->answer = answer;
                                                           return mine;
                                                         }),
                 KeyLookupError);
    // Those already under way when the first failed may finish: one per worker.
    EXPECT_LE(shown.load(), static_cast<int>(std::max(jobs, 1u))) << jobs;
  }
}

// Ctrl-C while one worker waits for an answer that never comes and another
// for a FIFO nobody writes to: the walk stops both and returns, and no task
// outlives what it uses.
TEST(ParallelWalkThreads, AnInterruptStopsWorkersWaitingInRequestsAndOnFifos) {
  ScratchDir dir;
  dir.write("hang.cfg", "[default]\ndescription = hangs\n[norvane]\naction = hang\n");
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo.cfg").c_str(), 0600), 0);
  std::atomic<bool> hanging{false};
  struct Interruptible : RecordingFrontEnd {
    std::atomic<bool>* pressed;
    void check_interrupt() override {
      if (*pressed) throw Error(ErrorKind::interrupted, "interrupted");
    }
  } front_end;
  front_end.pressed = &hanging;  // Ctrl-C once a request hangs
  RunSettings settings = settings_for(dir);
  settings.jobs = 2;
  auto open_transport = [&] {
    auto transport = std::make_unique<ScriptedTransport>();
    transport->answer = [](const auto&) { return "{}"; };
    transport->before_answer = [&](const fakes::PostedForm& form, const std::function<void()>& check_interrupt) {
      if (form.field("action") != "hang") return;
      hanging = true;
      for (;;) {  // until the run stops the request
        check_interrupt();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    return transport;
  };
  try {
    walk_config_dir_in_parallel(front_end, settings, open_transport);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::interrupted);
  }
}

// A worker that cannot be had ends the run with its cause; the workers
// started before it are stopped, not left waiting.
TEST(ParallelWalkThreads, AWorkerThatCannotStartEndsTheRunWithItsCause) {
  ParallelCase files(3);
  RunSettings settings = settings_for(files.dir);
  settings.jobs = 4;
  RecordingFrontEnd front_end;
  int made = 0;
  try {
    walk_config_dir_in_parallel(front_end, settings, [&]() -> std::unique_ptr<Transport> {
      if (++made == 3) throw std::system_error(EAGAIN, std::generic_category());
      return std::make_unique<ScriptedTransport>();
    });
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(describe_for_operator(e), "OSError: cannot start worker thread 3 of 4: Resource temporarily unavailable");
  }
  EXPECT_EQ(front_end.out, "");
}

}  // namespace
