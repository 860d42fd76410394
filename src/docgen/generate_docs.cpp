// Writes the man page and the bash, zsh and fish completion scripts from the
// option table that also builds --help, so that they can never disagree.
// Run at build time: generate_docs <share-dir> writes under <share-dir>
// man/man1/quillon.1, and for each command (quillon, quillon-py)
// bash-completion/completions/<command> and
// fish/vendor_completions.d/<command>.fish, and zsh/site-functions/_quillon.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "completions.hpp"
#include "doc_options.hpp"
#include "man_page.hpp"

namespace {

namespace fs = std::filesystem;

bool write_file(const fs::path& path, const std::string& text) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (!out) {
    std::cerr << "generate_docs: cannot write " << path.string() << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon::docgen;
  if (argc != 2) {
    std::cerr << "usage: generate_docs SHARE_DIR\n";
    return 2;
  }
  const fs::path share = argv[1];
  const std::vector<DocOption> options = documented_options();
  bool ok = write_file(share / "man" / "man1" / "quillon.1", man_page(options));
  ok = write_file(share / "zsh" / "site-functions" / "_quillon", zsh_script(options)) && ok;
  const std::string bash = bash_script(options);
  for (std::string_view command : commands) {
    const std::string name(command);
    ok = write_file(share / "bash-completion" / "completions" / name, bash) && ok;
    ok = write_file(share / "fish" / "vendor_completions.d" / (name + ".fish"), fish_script(options, command)) && ok;
  }
  return ok ? 0 : 1;
}
