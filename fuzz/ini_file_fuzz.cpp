// Fuzzes the INI parser: input bytes are split into lines by the stream reader and parsed;
// the parsed content must survive a save and re-parse unchanged, and lookups must not fail.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/ini_file.h"
#include "settings/stream_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (data == nullptr) return 0;
  kiv::TMemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
  kiv::TStreamReader reader(&stream, 128);
  std::vector<std::string> lines;
  for (std::string line; reader.ReadLine(line);) lines.push_back(line);

  kiv::TkivIniFile ini;
  ini.AppendFromStrings(lines);
  std::vector<std::string> saved;
  ini.SaveToStrings(saved);
  kiv::TkivIniFile again;
  again.AppendFromStrings(saved);
  std::vector<std::string> resaved;
  again.SaveToStrings(resaved);
  if (resaved != saved) std::abort();

  // Every key of every section reads back as the value of its first occurrence.
  std::vector<std::string> sections;
  ini.ReadSections(sections);
  for (const std::string& section : sections) {
    std::vector<std::string> keys;
    ini.ReadSection(section, keys);
    for (const std::string& key : keys) {
      if (!ini.ValueExists(section, key)) std::abort();
      ini.ReadString(section, key, "");
      ini.ReadInteger(section, key, 0);
      ini.ReadFloat(section, key, 0);
      ini.ReadDateTime(section, key, 0);
    }
  }
  if (!sections.empty()) {
    ini.WriteString(sections.back(), "fuzz", "1");
    if (ini.ReadString(sections.back(), "FUZZ", "") != "1") std::abort();
    ini.DeleteKey(sections.front(), "fuzz");
    ini.EraseSection(sections.front());
  }
  return 0;
}
