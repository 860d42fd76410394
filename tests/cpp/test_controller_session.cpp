// The controller session against a scripted controller: what is posted in
// which order, refused logins, compound queries and their limits. These run
// in the sanitizer build too.
#include <gtest/gtest.h>

#include "client/controller_session.hpp"
#include "fakes.hpp"
#include "print/printer.hpp"

using namespace quillon;
using fakes::ScratchDir;
using fakes::ScriptedTransport;
using fakes::settings_for;

namespace {

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

}  // namespace
