// Runs a fuzz target's entry point on stored inputs without libFuzzer: every
// file named and every file in every folder named (sorted); counts the passes.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Fuzz.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    fs::path p = argv[i];
    if (fs::is_directory(p)) {
      for (const auto& e : fs::directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
    } else if (fs::is_regular_file(p)) {
      files.push_back(p);
    } else {
      std::fprintf(stderr, "replay: %s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "replay: no inputs\n");
    return 2;
  }
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size heap copy, so that a read past the input is seen.
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    std::fprintf(stderr, "replay: %s (%zu bytes)\n", f.c_str(), copy.size());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
  }
  std::printf("replay: %zu inputs passed\n", files.size());
  return 0;
}
