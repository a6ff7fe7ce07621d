// The whole of a file as bytes, for tests that compare against files.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace norvane::test {

// Empty when the file cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
      std::fopen(path.string().c_str(), "rb"), std::fclose);
  std::string bytes;
  if (!file) return bytes;
  char block[1 << 16];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, file.get())) > 0;)
    bytes.append(block, n);
  return bytes;
}

}  // namespace norvane::test
