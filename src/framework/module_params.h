// Module parameters: the named properties of an instance that the host reads and writes through
// GET-MODULE-PARAMETER and SET-MODULE-PARAMETER, and the folders reported among them.
//
// Names are compared without regard to case, except the parser-item rows ("ParserItemName" and
// its siblings, first 14 characters exact) and the custom values (names beginning "Custom").
// Called under the instance's command lock; the custom values take their own lock.
#pragma once

#include <string>
#include <string_view>

#include "framework/plugin.h"
#include "paramlist/variant.h"

namespace kiv {

// The value of the parameter `name`; empty for a name no row knows.
Variant GetModuleParameter(TkivPlugin& plugin, std::string_view name);
// Sets the parameter `name` to `value` (empty when the host gave none). False for a read-only or
// unknown name and for a value the row cannot take.
bool SetModuleParameter(TkivPlugin& plugin, std::string_view name, const Variant& value);

// The application-data folder: the fourth "\"-separated field of the registry path below the
// all-users application-data folder, with a trailing delimiter.
std::string AppDataPath(const TkivPlugin& plugin);
// The configuration part of the data folder, taken from the INI section prefix.
std::string ModuleConfigId(const TkivPlugin& plugin);
// The instance's folder name below the configuration part.
std::string ModuleDataFolderName(TkivPlugin& plugin);
// AppDataPath + configuration part + folder name, each with a trailing delimiter; not created.
std::string ModuleDataPath(TkivPlugin& plugin);

// True when one of the program's command-line arguments is exactly `argument`.
bool ProgramHasArgument(std::string_view argument);

}  // namespace kiv
