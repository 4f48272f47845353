// Runs the native check families and prints one line per family:
//   "<family>: <cases> cases, <failures> failures"
// Exits 1 when any case fails. Arguments: --list prints the family names;
// family names run only those families.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "registry.hpp"

int main(int argc, char** argv) {
  using namespace nimbic::checks;
  std::vector<std::string> chosen;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--list") == 0) {
      for (const auto& [name, body] : families()) std::printf("%s\n", name.c_str());
      return 0;
    }
    if (families().count(argv[i]) == 0) {
      std::printf("unknown family: %s\n", argv[i]);
      return 2;
    }
    chosen.push_back(argv[i]);
  }
  if (chosen.empty())
    for (const auto& [name, body] : families()) chosen.push_back(name);
  int failed = 0;
  for (const std::string& name : chosen) {
    Context ctx(name);
    families()[name](ctx);
    std::printf("%s: %d cases, %d failures\n", name.c_str(), ctx.cases(), ctx.failures());
    std::fflush(stdout);
    if (ctx.failures() != 0 || ctx.cases() == 0) ++failed;
  }
  return failed == 0 ? 0 : 1;
}
