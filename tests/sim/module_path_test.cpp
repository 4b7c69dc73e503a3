// Where the programs look for the module when none is named: beside the
// executable first (the build tree), then the installed ../lib/zorgaval/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "hostprog/module.h"

namespace fs = std::filesystem;

namespace {

struct Layout {
  const char* name;
  std::vector<const char*> modules;  // the module files present, under ROOT
  const char* expected;              // what is found, under ROOT
};

TEST(ModulePath, BesideFirstThenInstalledThenBesideForTheError) {
  const Layout layouts[] = {
      {"build tree", {"bin/zorgaval.so"}, "bin/zorgaval.so"},
      {"installed", {"lib/zorgaval/zorgaval.so"}, "lib/zorgaval/zorgaval.so"},
      {"both: beside wins", {"bin/zorgaval.so", "lib/zorgaval/zorgaval.so"}, "bin/zorgaval.so"},
      {"neither: beside named", {}, "bin/zorgaval.so"},
      {"other lib folder ignored", {"lib/zorgaval.so"}, "bin/zorgaval.so"},
  };
  for (const Layout& layout : layouts) {
    const fs::path root =
        fs::temp_directory_path() / ("zorgaval-module-path-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "bin");
    for (const char* module : layout.modules) {
      fs::create_directories((root / module).parent_path());
      std::ofstream(root / module) << "not really a module";
    }
    EXPECT_EQ(hostprog::moduleForExecutable(root / "bin" / "zorgaval-sim"),
              (root / layout.expected).string())
        << layout.name;
    fs::remove_all(root);
  }
}

}  // namespace
