// Replays fuzz inputs without libFuzzer: every file under the directories
// (or the files) named on the command line goes once through the target.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

static void replay(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (auto& entry : std::filesystem::recursive_directory_iterator(p))
        if (entry.is_regular_file() && entry.path().filename() != ".keep") {
          replay(entry.path());
          ++count;
        }
    } else if (std::filesystem::exists(p)) {
      replay(p);
      ++count;
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
