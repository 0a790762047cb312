// Folders for the module's own data below the system's special folders, and clean file names.
//
// GetSpecialFolder asks its sources in turn (shell, registry, "CommonProgramFiles", module
// folder); the sources sit behind SpecialFolderSources so that tests can make each fail.
// Functions are safe from any thread; a sources object is used by one call at a time.
#pragma once

#include <optional>
#include <string>

namespace kiv {

// Special-folder identifiers (CSIDL values) with a registry fallback.
inline constexpr int kCsidlAppData = 26;        // per-user application data
inline constexpr int kCsidlCommonAppData = 35;  // all-users application data

enum class ShellLookup {
  kUnavailable,  // the shell library or its folder function could not be loaded
  kFailed,       // the shell does not know the folder
  kFound,
};

enum class RegistryRoot { kCurrentUser, kLocalMachine };

// Where GetSpecialFolder looks. The system implementation calls the platform.
class SpecialFolderSources {
 public:
  virtual ~SpecialFolderSources() = default;
  // The shell's folder for `folderId`, not creating it; `folder` is set only on kFound.
  virtual ShellLookup ShellFolder(int folderId, std::string& folder) = 0;
  // A text value read (never created) from the registry; nullopt when the key or value is
  // missing. An existing empty value gives "".
  virtual std::optional<std::string> RegistryText(RegistryRoot root, const std::string& key,
                                                  const std::string& value) = 0;
  // The process environment and the module folder unless overridden.
  virtual std::string Environment(const std::string& name);
  virtual std::string ModuleFolder();

// The full file name of the module's own file, read as for ModuleFolder; empty on failure.
std::string ModuleFileName();
};

// The platform's sources (on systems without a shell, the shell is unavailable).
SpecialFolderSources& SystemFolderSources();

// A folder below the special folder `folderId`: the folder with a trailing delimiter followed by
// the cleaned `subFolder` and a trailing delimiter. Falls back to the registry, then to
// "CommonProgramFiles", then (with `useModuleFolder`) to the module folder without
// `subFolder`. Empty only when `useModuleFolder` is off and no source gave a folder.
std::string GetSpecialFolder(int folderId, const std::string& subFolder, bool useModuleFolder);
std::string GetSpecialFolder(SpecialFolderSources& sources, int folderId,
                             const std::string& subFolder, bool useModuleFolder);

// `name` without the characters that may not stand in a file name: with `pathSafe` the set
// " * / : < > ? \ |, else also ' + ; = [ ]. Each is replaced by `replacement`, or dropped when
// `replacement` is '\0'. A name that starts with COM or LPT or is CON, AUX, PRN or NUL (any
// case) gets a "_" in front.
std::string CleanFileName(const std::string& name, bool pathSafe, char replacement);

// The folder of the module's own file (the library that holds this code, not the host
// executable), with a trailing delimiter; empty if the file name cannot be read. On Windows
// the file name is read with the file-system redirection of 32-bit processes switched off
// where the system offers that.
std::string ModuleFolder();

// The full file name of the module's own file, read as for ModuleFolder; empty on failure.
std::string ModuleFileName();

}  // namespace kiv
