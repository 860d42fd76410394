#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/errors.hpp"
#include "cli/default_config_dir.hpp"
#include "package_layout.hpp"

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

// The wheel's launcher: where each install scheme puts the package, seen from the scripts directory.
TEST(PackageProgram, CandidatesCoverEachInstallScheme) {
  std::vector<std::string> venv = package_program_candidates("/venv/bin/quillon", "python3.11");
  EXPECT_EQ(venv, (std::vector<std::string>{
                      "/venv/lib/python3.11/site-packages/quillon/quillon",
                      "/venv/lib64/python3.11/site-packages/quillon/quillon",
                      "/venv/lib/python3.11/dist-packages/quillon/quillon",
                      "/venv/lib/python3/dist-packages/quillon/quillon",
                      "/venv/quillon/quillon",
                  }));
  // At the root, with doubled slashes, and for a path without directories.
  EXPECT_EQ(package_program_candidates("/bin/quillon", "python3.10").front(),
            "/lib/python3.10/site-packages/quillon/quillon");
  EXPECT_EQ(package_program_candidates("/usr/local/bin//quillon", "python3.12")[2],
            "/usr/local/lib/python3.12/dist-packages/quillon/quillon");
  EXPECT_EQ(package_program_candidates("quillon", "python3.11").back(), "../quillon/quillon");
}

TEST(PackageProgram, FindsTheFirstExecutableCandidate) {
  fs::path base = fs::temp_directory_path() / ("quillon-pkg-" + std::to_string(::getpid()));
  fs::remove_all(base);
  const std::string command = (base / "bin" / "quillon").string();
  auto place = [&](const fs::path& dir, fs::perms perms) {
    fs::create_directories(base / dir);
    std::ofstream(base / dir / "quillon") << "program";
    fs::permissions(base / dir / "quillon", perms);
    return (base / dir / "quillon").string();
  };
  EXPECT_EQ(find_package_program(command, "python3.11"), "");  // nothing installed

  std::string target = place("quillon", fs::perms::owner_all);
  EXPECT_EQ(find_package_program(command, "python3.11"), target);
  // A file that cannot be run, or a directory of that name, is passed over.
  place("lib/python3/dist-packages/quillon", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(base / "lib64/python3.11/site-packages/quillon/quillon");
  EXPECT_EQ(find_package_program(command, "python3.11"), target);
  // The interpreter the wheel was built for decides, not whichever is there.
  place("lib/python3.12/site-packages/quillon", fs::perms::owner_all);
  EXPECT_EQ(find_package_program(command, "python3.11"), target);
  std::string venv = place("lib/python3.11/site-packages/quillon", fs::perms::owner_all);
  EXPECT_EQ(find_package_program(command, "python3.11"), venv);
  fs::remove_all(base);
}
