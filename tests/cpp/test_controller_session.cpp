// The controller session and the run driver against a scripted controller:
// what is posted in which order, refused logins, compound queries and their
// limits, and what a failing file leaves printed. These run in the sanitizer
// build too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "cli/file_report.hpp"
#include "cli/parallel_walk.hpp"
#include "cli/run_driver.hpp"
#include "client/controller_session.hpp"
#include "fakes.hpp"
#include "print/printer.hpp"

using namespace quillon;
using fakes::RecordingFrontEnd;
using fakes::ScratchDir;
using fakes::ScriptedTransport;

namespace {

RunSettings settings_for(const ScratchDir& dir) {
  return RunSettings::for_controller("10.0.0.5", "admin", "pw&=", dir.path());
}

std::vector<std::string> actions(const ScriptedTransport& t) {
  std::vector<std::string> out;
  for (const auto& form : t.posted) out.push_back(form.field("action") + " " + form.field("CID"));
  return out;
}

TEST(ControllerSession, LoginPostsTheFormAndReturnsTheCid) {
  ScratchDir dir;
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  json::Document cid = ControllerSession(transport, settings).login();
  EXPECT_EQ(pretty_format(cid.root), "'cid-1'");
  ASSERT_EQ(transport.posted.size(), 1u);
  EXPECT_EQ(transport.posted[0].url, "https://10.0.0.5/v1/api");
  std::vector<std::pair<std::string, std::string>> expected{
      {"action", "login"}, {"username", "admin"}, {"password", "pw&="}};
  EXPECT_EQ(transport.posted[0].fields, expected);
}

TEST(ControllerSession, UnusableLoginAnswersAreRefusals) {
  ScratchDir dir;
  RunSettings settings = settings_for(dir);
  for (std::string answer : {"not json", "", "[]", "{}", R"({"cid": "x"})", R"("CID")", R"({"CID": 1} x)"}) {
    ScriptedTransport transport;
    transport.answer_logins_too = true;
    transport.answer = [&](const auto&) { return answer; };
    EXPECT_THROW(ControllerSession(transport, settings).login(), LoginRefused) << answer;
  }
  // Any member named CID will do, even null: it is opaque to the client.
  ScriptedTransport transport;
  transport.answer_logins_too = true;
  transport.answer = [](const auto&) { return R"({"CID": null, "other": 1})"; };
  EXPECT_EQ(pretty_format(ControllerSession(transport, settings).login().root), "None");
}

TEST(ControllerSession, TransportFailuresAreNotRefusals) {
  ScratchDir dir;
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  transport.answer_logins_too = true;
  transport.answer = [](const auto&) -> std::string { throw Error(ErrorKind::transport, "Cannot reach"); };
  try {
    ControllerSession(transport, settings).login();
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::transport);
  }
}

TEST(ControllerSession, CompoundQueryRunsTheNamedFileThenOneQueryPerElement) {
  ScratchDir dir;
  dir.write("names.list", "[default]\nfilters = results, name\n[norvane]\naction = list\n");
  std::string details =
      dir.write("details.cfg", "[default]\nfilters = results\n[norvane]\naction = show\nitem = output(names.list)\n");
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  transport.answer = [](const fakes::PostedForm& form) -> std::string {
    if (form.field("action") == "list") return R"({"results": [{"name": "b"}, {"name": "a"}]})";
    return R"({"results": {"size": )" + std::to_string(form.field("item").size()) + ", \"of\": \"" +
           form.field("item") + "\"}}";
  };
  json::Document result = ControllerSession(transport, settings).run_query_file(details);
  EXPECT_EQ(pretty_format(result.root),
            "[{'object': 'b', 'results': {'of': 'b', 'size': 1}}, {'object': 'a', 'results': {'of': 'a', 'size': 1}}]");
  // The outer file logs in first, the named file for itself, then every
  // element is posted with the outer file's CID, fields in the file's order.
  std::vector<std::string> expected{"login ", "login ", "list cid-2", "show cid-1", "show cid-1"};
  EXPECT_EQ(actions(transport), expected);
  EXPECT_EQ(transport.posted[3].fields[0].first, "CID");
  EXPECT_EQ(transport.posted[3].fields[2], (std::pair<std::string, std::string>{"item", "b"}));
}

TEST(ControllerSession, CompoundQueryOverAnObjectOrTextIteratesKeysOrCharacters) {
  ScratchDir dir;
  dir.write("keys.list", "[default]\nfilters = results\n[norvane]\naction = keys\n");
  std::string outer = dir.write("outer.cfg", "[norvane]\naction = show\nitem = output(keys.list)\n");
  RunSettings settings = settings_for(dir);
  for (auto [answer, elements] :
       {std::pair{R"({"results": {"y": 1, "x": 2}})", "yx"}, std::pair{R"({"results": "é€"})", "é€"}}) {
    ScriptedTransport transport;
    transport.answer = [&](const fakes::PostedForm& form) -> std::string {
      return form.field("action") == "keys" ? answer : "{}";
    };
    ControllerSession(transport, settings).run_query_file(outer);
    std::string items;
    for (const auto& form : transport.posted)
      if (form.field("action") == "show") items += form.field("item");
    EXPECT_EQ(items, elements);
  }
  ScriptedTransport transport;
  transport.answer = [](const auto&) { return R"({"results": 5})"; };
  try {
    ControllerSession(transport, settings).run_query_file(outer);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::type);
    EXPECT_STREQ(e.what(), "'int' object is not iterable");
  }
}

TEST(ControllerSession, ACompoundQueryThatLeadsBackStopsBeforeLoggingInAgain) {
  ScratchDir dir;
  std::string a = dir.write("a.cfg", "[norvane]\naction = a\nx = output(b.list)\n");
  dir.write("b.list", "[norvane]\naction = b\nx = output(a.cfg)\n");
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  transport.answer = [](const auto&) { return "[]"; };
  try {
    ControllerSession(transport, settings).run_query_file(a);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::recursion);
    EXPECT_NE(std::string(e.what()).find("refer back"), std::string::npos) << e.what();
    EXPECT_EQ(e.files(), (std::vector<std::string>{"a.cfg", "b.list", "a.cfg"}));  // as the operator follows it
  }
  EXPECT_EQ(transport.logins, 2);  // a and b; not a again
  EXPECT_EQ(transport.posted.size(), 2u);
}

TEST(ControllerSession, NestingWithoutACycleStopsAtTheLimit) {
  ScratchDir dir;
  const int files = static_cast<int>(max_compound_depth) + 5;
  for (int i = 0; i < files; ++i)
    dir.write("f" + std::to_string(i) + ".list",
              "[norvane]\naction = q\nx = output(f" + std::to_string(i + 1) + ".list)\n");
  RunSettings settings = settings_for(dir);
  ScriptedTransport transport;
  transport.answer = [](const auto&) { return "[]"; };
  try {
    ControllerSession(transport, settings).run_query_file(dir.path() + "/f0.list");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::recursion);
    EXPECT_NE(std::string(e.what()).find("nest more than 100"), std::string::npos) << e.what();
  }
  EXPECT_EQ(transport.logins, static_cast<int>(max_compound_depth) + 1);
}

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

}  // namespace

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

TEST(ParallelWalk, PrintsExactlyWhatTheSequentialWalkPrints) {
  ParallelCase files(12);
  auto sequential = files.run(0);
  EXPECT_NE(sequential.first.find("'a': 'q0y'"), std::string::npos);
  for (unsigned jobs : {1u, 3u, 8u}) EXPECT_EQ(files.run(jobs), sequential) << jobs;
}

// The same output and the same error line, naming the same file, whether the
// failure is a file's own query, a compound query's elements (run on other
// workers) or a file that cannot be read.
TEST(ParallelWalk, EndsAtTheFirstFailingFileInDirectoryOrder) {
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

}  // namespace
