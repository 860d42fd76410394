// Form bodies and the HTTPS transport, checked without the Python host (the
// byte-for-byte comparison with the host's client lives in the Python tests).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "client/https_transport.hpp"

using namespace quillon;
using json::Value;

namespace {

std::string encode(std::vector<FormField> fields) { return encode_form(fields); }

// A TCP socket on 127.0.0.1 that listens (the kernel completes connections)
// but never accepts or answers: a controller that never replies.
struct SilentListener {
  int fd = -1;
  int port = 0;
  SilentListener() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) != 0)
      ADD_FAILURE() << "cannot listen";
    port = ntohs(a.sin_port);
  }
  ~SilentListener() { close(fd); }
};

// A port with nobody listening on it.
int closed_port() {
  SilentListener l;
  int port = l.port;
  return port;  // the listener closes here
}

}  // namespace

TEST(FormEncode, WritesEachKindLikeTheHostClient) {
  Value inner[] = {Value::null(), Value::real(1e20), Value::text("a b")};
  json::Arena keys;
  json::Member members[] = {{keys.store_key("k1"), Value::integer(1)}, {keys.store_key("k 2"), Value::null()}};
  Value items[] = {Value::null(), Value::integer(-7), Value::boolean(false), Value::array(inner, 3),
                   Value::object(members, 2)};
  EXPECT_EQ(encode({{"CID", Value::text("x&y=z+%\xc3\xa9~_.-")},
                    {"gone", Value::null()},
                    {"list", Value::array(items, 5)},
                    {"obj", Value::object(members, 2)},
                    {"big", Value::big_integer("-123456789012345678901234567890")},
                    {"r", Value::real(0.1)}}),
            "CID=x%26y%3Dz%2B%25%C3%A9~_.-&list=-7&list=False&list=None&list=1e%2B20&list=a+b"
            "&list=k1&list=k+2&obj=k1&obj=k+2&big=-123456789012345678901234567890&r=0.1");
  EXPECT_EQ(encode({}), "");
  EXPECT_EQ(encode({{"only", Value::null()}}), "");
}

TEST(FormEncode, LoneSurrogatesFailWithTheHostsPosition) {
  // "ab" + U+D800 + U+DC01 (two lone surrogates, WTF-8) + "c"
  const std::string text =
      "ab\xed\xa0\x80\xed\xb0\x81"
      "c";
  try {
    encode({{"ok", Value::text("fine")}, {"bad", Value::text(text)}});
    FAIL() << "no error";
  } catch (const TextEncodeError& e) {
    EXPECT_EQ(e.kind(), ErrorKind::encoding);
    EXPECT_EQ(e.start(), 2u);
    EXPECT_EQ(e.end(), 4u);
    EXPECT_STREQ(e.what(), "'utf-8' codec can't encode characters in position 2-3: surrogates not allowed");
  }
}

TEST(Transport, UrlAndRefusals) {
  EXPECT_EQ(controller_api_url("10.0.0.1:8443/"), "https://10.0.0.1:8443//v1/api");
  CurlTransport transport;
  const std::string refused = "https://127.0.0.1:" + std::to_string(closed_port()) + "/v1/api";
  for (const std::string& url : {refused, std::string("https:// 127.0.0.1/v1/api"),
                                 std::string("https://127.0.0.1 /v1/api"), std::string("https:///v1/api")}) {
    try {
      transport.post(url, "password=secret", nullptr);
      ADD_FAILURE() << "no error for " << url;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::transport) << url;
      std::string message = e.what();
      EXPECT_NE(message.find(url), std::string::npos) << message;
      EXPECT_EQ(message.find("secret"), std::string::npos) << message;
    }
  }
}

TEST(Transport, InterruptAbortsASilentServerPromptly) {
  struct Stop {};
  SilentListener server;
  CurlTransport transport;
  auto start = std::chrono::steady_clock::now();
  int calls = 0;
  auto check = [&] {
    ++calls;
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300)) throw Stop{};
  };
  EXPECT_THROW(transport.post("https://127.0.0.1:" + std::to_string(server.port) + "/v1/api", "a=b", check), Stop);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_GE(calls, 2);  // called while nothing flows, not just once
}
