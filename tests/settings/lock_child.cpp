// Child process of the two-process INI lock test: increments a counter in an INI file
// `rounds` times, each time under the named lock of that file.
// Usage: kiv_settings_lock_child <ini file> <rounds>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/ini_file.h"
#include "settings/named_ini_lock.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string file = argv[1];
  const int rounds = std::atoi(argv[2]);
  try {
    kiv::TNamedIniLock lock(kiv::IniLockName(file));
    for (int i = 0; i < rounds; ++i) {
      kiv::TNamedIniLockGuard guard(lock);
      kiv::TkivIniFile ini(file);
      const int value = ini.ReadInteger("Counter", "Value", 0);
      ::Sleep(0);  // invite the other process in between read and write
      ini.WriteInteger("Counter", "Value", value + 1);
      ini.UpdateFile();
    }
  } catch (...) {
    return 1;
  }
  return 0;
}
