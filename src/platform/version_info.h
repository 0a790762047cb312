// The version resource of a module file: product name, file description and version numbers.
//
// TkivVersionInfo reads everything at construction and never fails: a file without a readable
// version resource leaves Valid false, the strings empty and the numbers 0. Version resources
// exist on Windows only; elsewhere every file reads as having none. Immutable after
// construction: safe to read from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace kiv {

class TkivVersionInfo {
 public:
  explicit TkivVersionInfo(const std::string& fileName);

  bool Valid = false;
  std::string ProductName;
  std::string FileDescription;
  std::uint16_t Major = 0;    // high word of the most significant file-version double word
  std::uint16_t Minor = 0;    // low word of it
  std::uint16_t Release = 0;  // high word of the least significant double word
  std::uint16_t Build = 0;    // low word of it

  // "Major.Minor.Release.Build".
  std::string VersionText() const;
};

// An SDK version packed as KIV_MAKE_VERSION packs it, as "major.minor.patch".
std::string SdkVersionText(std::uint32_t packed);

}  // namespace kiv
