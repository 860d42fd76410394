// What the host comparison cannot reach: hostile input, file system errors,
// decoding positions in large files, error kinds, moves.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "config/config_reader.hpp"
#include "fakes.hpp"
#include "text/unicode.hpp"

using namespace quillon;
using config::ConfigError;
using config::ErrorType;
using config::Reader;

namespace {

Reader read(const std::string& text) {
  Reader r;
  r.read_text(text, "t.cfg");
  return r;
}

ErrorType get_error(const Reader& r, const std::string& key) {
  try {
    r.get("s", key);
  } catch (const ConfigError& e) {
    return e.type();
  }
  ADD_FAILURE() << "no error for " << key;
  return ErrorType::parsing;
}

// k0 = R(k1) R(k1) ... (fan references) down to k<levels> = leaf
std::string fan_out(int levels, int fan, const std::string& leaf) {
  std::string text = "[s]\n";
  for (int i = 0; i < levels; ++i) {
    text += "k" + std::to_string(i) + " = ";
    for (int j = 0; j < fan; ++j) text += "%(k" + std::to_string(i + 1) + ")s";
    text += "\n";
  }
  return text + "k" + std::to_string(levels) + " = " + leaf + "\n";
}

}  // namespace

TEST(ConfigReaderHostile, ExponentialExpansionStopsWithAnError) {
  // 40^9 copies of "x": the host would exhaust memory.
  Reader r = read(fan_out(9, 40, "x%%"));
  try {
    r.get("s", "k0");
    FAIL() << "expanded without limit";
  } catch (const ConfigError&) {
    FAIL() << "not an error of the file";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::value);
  }
}

TEST(ConfigReaderHostile, RepeatedReferencesAreExpandedOnce) {
  // 60^9 references that all come to nothing, and a wide but small result.
  Reader r = read(fan_out(9, 60, "%(e)s") + "e =\n");
  EXPECT_EQ(r.get("s", "k0"), "");
  Reader wide = read(fan_out(2, 1000, "%%"));
  EXPECT_EQ(wide.get("s", "k0"), std::string(1000 * 1000, '%'));
}

TEST(ConfigReaderHostile, SelfAndCyclicReferencesHitTheDepthLimit) {
  Reader r = read("[s]\na = %(a)s\nb = %(c)s\nc = x%(b)s\n");
  EXPECT_EQ(get_error(r, "a"), ErrorType::interpolation_depth);
  EXPECT_EQ(get_error(r, "b"), ErrorType::interpolation_depth);
}

TEST(ConfigReaderHostile, HugeLinesAndManyBlankLines) {
  std::string big(20 << 20, 'v');
  std::string text = "[s]\nk = " + big + "\n" + std::string(1 << 20, '\n') + "j = 1";
  Reader r = read(text);
  EXPECT_EQ(r.get("s", "k"), big);
  EXPECT_EQ(r.get("s", "j"), "1");
}

TEST(ConfigReaderHostile, BinaryGarbageNeverCrashes) {
  std::mt19937 rng(7);
  const std::string alphabet = std::string("[]=:%()s#; \t\r\nab\x0b", 18) + std::string(1, '\0');
  for (int round = 0; round < 2000; ++round) {
    std::string bytes;
    int n = rng() % 200;
    for (int i = 0; i < n; ++i) bytes += rng() % 2 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
    std::string text = unicode::repair_utf8(bytes);
    Reader r;
    try {
      r.read_text((round % 2 ? "[s]\n" : "") + text, "g");
      for (const auto& s : r.sections())
        for (const auto& k : r.options(s)) {
          try {
            r.get(s, k);
          } catch (const ConfigError& e) {
            EXPECT_FALSE(e.is_reading_error());
          }
        }
    } catch (const ConfigError& e) {
      EXPECT_TRUE(e.is_reading_error());
    }
  }
}

// Scratch directories of their own, so concurrent runs do not collide.
TEST(ConfigReaderFiles, UnopenableFilesAreOsErrors) {
  fakes::ScratchDir scratch;
  const std::filesystem::path dir = scratch.path();
  struct Case {
    std::string path;
    int error;
  } cases[] = {{(dir / "missing.cfg").string(), ENOENT}, {dir.string(), EISDIR}};
  for (const auto& c : cases) {
    Reader r;
    try {
      r.read_path(c.path);
      ADD_FAILURE() << c.path;
    } catch (const OsError& e) {
      EXPECT_EQ(e.error_number(), c.error);
      EXPECT_EQ(e.path(), c.path);
    }
  }
}

TEST(ConfigReaderFiles, DecodeErrorNamesFileAndAbsolutePosition) {
  fakes::ScratchDir scratch;
  std::string data = "[s]\nk = " + std::string(100000, 'a') + "\xe2\x82" + "b\n";
  const std::string path = scratch.write("bad_utf8.cfg", data);
  Reader r;
  try {
    r.read_path(path);
    FAIL();
  } catch (const config::TextDecodeError& e) {
    EXPECT_EQ(e.start(), 100008u);
    EXPECT_EQ(e.end(), 100010u);
    EXPECT_EQ(e.reason(), "invalid continuation byte");
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("100008"), std::string::npos);
  }
}

TEST(ConfigReaderErrors, ReadingAndLookupErrorsAreDistinct) {
  struct Case {
    std::string text;
    std::string key;  // empty: the read itself fails
    ErrorType type;
  } cases[] = {
      {"k = 1\n", "", ErrorType::missing_section_header},
      {"[s]\n[s]\n", "", ErrorType::duplicate_section},
      {"[s]\nk = 1\nK = 2\n", "", ErrorType::duplicate_option},
      {"[s]\nnothing\n", "", ErrorType::parsing},
      {"[s]\n", "k", ErrorType::no_option},
      {"[s]\nk = %x\n", "k", ErrorType::interpolation_syntax},
      {"[s]\nk = %(y)s\n", "k", ErrorType::interpolation_missing_option},
      {"[s]\nk = %(k)s\n", "k", ErrorType::interpolation_depth},
  };
  for (const auto& c : cases) {
    try {
      Reader r = read(c.text);
      r.get("s", c.key);
      ADD_FAILURE() << c.text;
    } catch (const ConfigError& e) {
      EXPECT_EQ(e.type(), c.type) << c.text;
      EXPECT_EQ(e.kind(), ErrorKind::config);
      EXPECT_EQ(e.is_reading_error(), c.key.empty()) << c.text;
    }
  }
}

TEST(ConfigReaderErrors, ParsingErrorListsEveryBadLineAfterReadingAll) {
  try {
    read("[s]\nbad one\nk = 1\n= 2\r\nbad three");
    FAIL();
  } catch (const ConfigError& e) {
    ASSERT_EQ(e.type(), ErrorType::parsing);
    using Lines = std::vector<std::pair<std::size_t, std::string>>;
    EXPECT_EQ(e.fields().bad_lines, (Lines{{2, "bad one\n"}, {4, "= 2\n"}, {5, "bad three"}}));
  }
}

TEST(ConfigReaderState, MovedReaderKeepsItsSections) {
  Reader a = read("[s]\nk = 1\n[t]\n[DEFAULT]\nd = 2\n");
  Reader b = std::move(a);
  EXPECT_EQ(b.sections(), (std::vector<std::string>{"s", "t"}));
  EXPECT_EQ(b.options("t"), std::vector<std::string>{"d"});
  EXPECT_EQ(b.get("s", "K"), "1");
  EXPECT_TRUE(b.has_section("t"));
  EXPECT_FALSE(b.has_section("DEFAULT"));
}

TEST(ConfigReaderText, QuoteMarksBytesThatAreNotUtf8AsTheHostDoes) {
  EXPECT_EQ(config::quote("a\xff"
                          "b"),
            "'a\\udcffb'");
}
