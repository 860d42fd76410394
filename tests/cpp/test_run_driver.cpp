// The run driver against a scripted controller: what a failing file leaves
// printed, refused logins, which arguments are kept out of the process list
// and when output is written out; saved results.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "base/atomic_file.hpp"
#include "base/list_directory.hpp"
#include "base/read_file.hpp"
#include "cli/file_report.hpp"
#include "cli/run_driver.hpp"
#include "cli/saved_results.hpp"
#include "fakes.hpp"

using namespace quillon;
using fakes::RecordingFrontEnd;
using fakes::ScratchDir;
using fakes::ScriptedTransport;
using fakes::settings_for;

namespace {

TEST(RunDriver, AFailingFileLeavesEverythingBeforeItPrinted) {
  ScratchDir dir;
  dir.write("one.cfg", "[default]\ndescription = first\nfilters = results, missing\n[norvane]\naction = one\n");
  dir.write("two.cfg", "[default]\ndescription = second\nfilters = results, missing\n[norvane]\naction = two\n");
  dir.write("notes.txt", "not a configuration file");
  std::vector<std::string> names = list_directory(dir.path());
  names.erase(std::remove(names.begin(), names.end(), "notes.txt"), names.end());
  ASSERT_EQ(names.size(), 2u);
  // The file listed second fails, whichever the file system lists first.
  const bool two_first = names[0] == "two.cfg";
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  transport.answer = [&](const fakes::PostedForm& form) -> std::string {
    bool fails = (form.field("action") == "one") == two_first;
    return fails ? R"({"results": [{"other": 1}]})" : R"({"results": [{"missing": 1}, {"missing": 2}]})";
  };
  RecordingFrontEnd front_end;
  try {
    walk_config_dir(front_end, transport, settings);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::key);
    EXPECT_EQ(describe_for_operator(e), std::string(two_first ? "one" : "two") +
                                            ".cfg: filters \"results, missing\": step \"missing\": KeyError: no key "
                                            "'missing' in a result");
  }
  std::string first = two_first ? "second" : "first", second = two_first ? "first" : "second";
  EXPECT_EQ(front_end.out, first + "\n[1, 2]\n\n\n" + second + "\n");
}

TEST(RunDriver, ARefusedLoginPrintsLoginFailedAndEndsWithOne) {
  ScratchDir dir;
  dir.write("one.cfg", "[default]\ndescription = first\n[norvane]\naction = one\n");
  for (bool refuse_first : {true, false}) {
    ScriptedTransport transport;
    transport.answer_logins_too = true;
    int logins = 0;
    transport.answer = [&](const fakes::PostedForm&) -> std::string {
      ++logins;
      return refuse_first || logins > 1 ? "{}" : R"({"CID": "c"})";
    };
    RecordingFrontEnd front_end;
    front_end.args = {"--controller_ip", "h", "--password", "p", "--config_dir", dir.path()};
    try {
      run_main(front_end, transport, "quillon", "/nonexistent/quillon");
      FAIL();
    } catch (const ExitRequest& request) {
      EXPECT_EQ(request.status, 1);
    }
    // Refused at the first login, or at the file's own login after its description.
    EXPECT_EQ(front_end.out, refuse_first ? "Login failed\n" : "first\nLogin failed\n");
  }
}

// Every value given to --password is blanked, however the option is spelt;
// each file's output is written out as soon as the file is done.
TEST(RunDriver, HidesEveryPasswordValueAndWritesOutEachFileAsItCompletes) {
  ScratchDir dir;
  dir.write("one.cfg", "[default]\ndescription = first\nfilters = results\n[norvane]\naction = one\n");
  ScriptedTransport transport;
  transport.answer = [](const auto&) { return R"({"results": 1})"; };
  RecordingFrontEnd front_end;
  front_end.args = {"--pass",       "A",        "--controller_ip", "h", "--password=B",
                    "--config_dir", dir.path(), "--passw",         "C", "--p=D"};
  run_main(front_end, transport, "quillon", "/nonexistent/quillon");
  EXPECT_EQ(front_end.hidden, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 0}, {4, 11}, {8, 0}, {9, 4}}));
  EXPECT_EQ(transport.posted[0].field("password"), "D");
  EXPECT_EQ(front_end.out, "first\n1\n\n\n");
  EXPECT_EQ(front_end.flushed_at, std::vector<std::size_t>{front_end.out.size()});
}

TEST(RunDriver, MemoryRunningOutWhilePrintingNamesTheFile) {
  // A front end whose output cannot grow: the failure names the file, not std::bad_alloc.
  struct Full : RecordingFrontEnd {
    void write_result(std::string_view) override { throw std::bad_alloc(); }
  } front_end;
  const RunSettings settings;
  FileReport report(front_end, settings);
  json::Value items[] = {json::Value::integer(1), json::Value::integer(2)};
  try {
    report.result("big.cfg", json::Value::array(items, 2));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::memory);
    EXPECT_EQ(describe_for_operator(e), "big.cfg: MemoryError: out of memory");
  }
}

// A save cut short at any piece leaves the earlier result as it was and no
// other file; one that completes replaces it, in a directory made on demand.
TEST(RunDriver, ASavedResultIsReplacedWholeOrNotAtAll) {
  ScratchDir dir;
  const std::string store = dir.path() + "/runs/saved";
  make_directories(store);
  std::ofstream(saved_result_path(store, "big.cfg")) << "earlier\n";
  json::Arena arena;
  std::vector<json::Value> items(30000, json::Value::text("a text long enough to need several pieces"));
  const json::Value big = arena.copy_array(items);
  int pieces = 0;
  for (int stop_at = 1;; ++stop_at) {
    int seen = 0;
    try {
      save_result(store, "big.cfg", big, [&] {
        if (++seen == stop_at) throw Error(ErrorKind::interrupted, "interrupted");
      });
      pieces = seen;
      break;
    } catch (const Error&) {
    }
    EXPECT_EQ(list_directory(store), std::vector<std::string>{"big.cfg.json"});
    EXPECT_EQ(read_file(saved_result_path(store, "big.cfg")), "earlier\n");
  }
  EXPECT_GT(pieces, 2);
  EXPECT_EQ(list_directory(store), std::vector<std::string>{"big.cfg.json"});
  EXPECT_EQ(read_file(saved_result_path(store, "big.cfg")).substr(0, 53),
            "[\n  \"a text long enough to need several pieces\",\n  \"a");
}

}  // namespace
