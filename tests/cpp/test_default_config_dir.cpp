#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/errors.hpp"
#include "cli/default_config_dir.hpp"

using namespace quillon;
namespace fs = std::filesystem;

TEST(DefaultConfigDir, ComposesLikeTheHostPathFunctions) {
  struct Case {
    const char* own_file;
    const char* expected;
  } cases[] = {
      {"/opt/tools/quillon/quillon.so", "/opt/tools/quillon/config"},
      {"/quillon.so", "/config"},
      {"//quillon.so", "//config"},
      {"quillon.so", "config"},
      {"a//b.so", "a/config"},
      {"rel/dir/quillon.so", "rel/dir/config"},
  };
  for (const auto& c : cases) EXPECT_EQ(compose_default_config_dir(c.own_file), c.expected) << c.own_file;
}

TEST(DefaultConfigDir, JoinKeepsAbsoluteNamesAndSingleSlashes) {
  EXPECT_EQ(join_path("dir", "x.cfg"), "dir/x.cfg");
  EXPECT_EQ(join_path("dir/", "x.cfg"), "dir/x.cfg");
  EXPECT_EQ(join_path("", "x.cfg"), "x.cfg");
  EXPECT_EQ(join_path("dir", "/abs/x.cfg"), "/abs/x.cfg");
  EXPECT_EQ(join_path("dir", ""), "dir/");
}

TEST(DefaultConfigDir, TestsTheFileSystemThroughLinks) {
  fs::path base = fs::temp_directory_path() / ("quillon-cfgdir-" + std::to_string(::getpid()));
  fs::remove_all(base);
  fs::create_directories(base / "real");
  std::string own = (base / "quillon.so").string();

  EXPECT_THROW(default_config_dir(own), Error);  // missing
  std::ofstream(base / "config") << "not a directory";
  try {
    default_config_dir(own);
    FAIL() << "a regular file is not a configuration directory";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::default_config_dir_missing);
    EXPECT_EQ(std::string(e.what()), "Default config directory not found: " + (base / "config").string());
  }
  fs::remove(base / "config");
  fs::create_directory_symlink(base / "real", base / "config");
  EXPECT_EQ(default_config_dir(own), (base / "config").string());  // the link's path, not its target
  fs::remove(base / "config");
  fs::create_directory_symlink(base / "gone", base / "config");
  EXPECT_THROW(default_config_dir(own), Error);  // dangling link
  fs::remove_all(base);
}
