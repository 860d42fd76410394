// The wheel's launcher: where each install scheme puts the package, seen from
// the scripts directory, and which candidate it runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "package_layout.hpp"

using namespace quillon;
namespace fs = std::filesystem;

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
