// A fresh temporary folder per test, removed afterwards, with small file helpers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kiv::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Full name of `name` inside the folder.
  std::string Path(std::string_view name) const;
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Names() const;

 private:
  std::string dir_;
};

void WriteFileBytes(const std::string& fileName, std::string_view bytes);
std::string ReadFileBytes(const std::string& fileName);

}  // namespace kiv::test
