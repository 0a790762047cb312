// Child process of the two-process INI lock tests.
// Usage: kiv_settings_lock_child <ini file> <rounds>        increments [Counter] Value under
//                                                           the named lock, `rounds` times
//        kiv_settings_lock_child <ini file> <rounds> <tag>  saves the values <tag>0.. through
//                                                           the settings component, one per Save
//        kiv_settings_lock_child <ini file> hold <event>    takes the lock, sets the named
//                                                           event and waits to be killed
#include <windows.h>

#include <cstdlib>
#include <string>

#include "settings/ini_file.h"
#include "settings/ini_save_helper.h"
#include "settings/named_ini_lock.h"

namespace {

void IncrementCounter(const std::string& file, int rounds) {
  kiv::TNamedIniLock lock(kiv::IniLockName(file));
  for (int i = 0; i < rounds; ++i) {
    kiv::TNamedIniLockGuard guard(lock);
    if (!guard.Owns()) throw kiv::ENamedLockError("lock not taken");
    kiv::TkivIniFile ini(file);
    const int value = ini.ReadInteger("Counter", "Value", 0);
    ::Sleep(0);  // invite the other process in between read and write
    ini.WriteInteger("Counter", "Value", value + 1);
    ini.UpdateFile();
  }
}

bool SaveTaggedValues(const std::string& file, int rounds, const std::string& tag) {
  for (int i = 0; i < rounds; ++i)
    if (!kiv::test::SaveIniInteger(file, tag + std::to_string(i), i)) return false;
  return true;
}

int HoldUntilKilled(const std::string& file, const std::string& readyEvent) {
  kiv::TNamedIniLock lock(kiv::IniLockName(file));
  if (!lock.Enter()) return 4;
  HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent.c_str());
  if (ready == nullptr || !::SetEvent(ready)) return 5;
  ::Sleep(INFINITE);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const std::string file = argv[1];
  if (argc == 4 && std::string(argv[2]) == "hold") return HoldUntilKilled(file, argv[3]);
  const int rounds = std::atoi(argv[2]);
  try {
    if (argc == 3)
      IncrementCounter(file, rounds);
    else if (!SaveTaggedValues(file, rounds, argv[3]))
      return 3;
  } catch (...) {
    return 1;
  }
  return 0;
}
