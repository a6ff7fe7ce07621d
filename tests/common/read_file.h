// The whole of a file, byte for byte, for the tests that compare or parse one.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace norvane::test {

// The file's bytes; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace norvane::test
