// A fresh temporary folder for one test, removed with what it holds when the test is done, and
// small file helpers. Every test that needs a folder of its own takes it from here; the
// end-to-end tests put a module into one (host/module_folder_win32.h). Test thread only.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace kiv::test {

inline void WriteFileBytes(const std::string& fileName, std::string_view bytes) {
  std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFileBytes(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TempFolder {
 public:
  // A folder under the system's temporary folder, named from `stem`, a time stamp and a counter,
  // that did not exist before: a folder an earlier run could not remove (a DLL still loaded)
  // is never reused.
  explicit TempFolder(std::string_view stem = "kiv_test") {
    static std::atomic<int> counter{0};
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    std::filesystem::path dir;
    std::error_code ec;
    do {
      const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
      dir = temp / (std::string(stem) + "_" + std::to_string(stamp) + "_" + std::to_string(++counter));
    } while (!std::filesystem::create_directory(dir, ec) && !ec);
    folder_ = dir.string();
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder's full name, without a trailing separator.
  const std::string& Folder() const { return folder_; }
  // Full name of `name` inside the folder.
  std::string Path(std::string_view name) const { return (std::filesystem::path(folder_) / std::string(name)).string(); }
  // Names of the entries in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Writes `bytes` into the folder as `name`; its full name.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string path = Path(name);
    WriteFileBytes(path, bytes);
    return path;
  }
  // Copies the file `from` into the folder as `name`; false when it could not.
  bool CopyIn(const std::string& from, std::string_view name) const {
    std::error_code ec;
    return std::filesystem::copy_file(from, Path(name), std::filesystem::copy_options::overwrite_existing, ec);
  }

 private:
  std::string folder_;
};

}  // namespace kiv::test
