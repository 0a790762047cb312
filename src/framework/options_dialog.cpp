// The dialog exports: the dialog description from resources or the application, and the
// application's own dialog with the settings reload of the instances that share its settings.
#include "framework/options_dialog.h"

#include <atomic>
#include <cstring>
#include <exception>

#include "framework/call_params.h"
#include "framework/data_processing.h"
#include "framework/instance_registry.h"
#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/readable_memory.h"
#include "platform/scope_exit.h"

namespace kiv {
namespace {

std::atomic<TModuleResourceReader> g_resource_reader{nullptr};

std::string ReadResource(ModuleHandle module, const std::string& name) {
  if (name.empty()) return {};
  TModuleResourceReader reader = g_resource_reader.load();
  return (reader ? reader : SystemModuleResourceReader())(module, name);
}

// Text up to the first zero byte (a resource or buffer may carry a terminator).
std::string UpToZero(const char* text, size_t size) {
  const void* end = std::memchr(text, 0, size);
  return std::string(text, end ? static_cast<const char*>(end) - text : size);
}

void SetOutput(TPluginCallRec* rec, uint8_t kind, uint32_t size, uint32_t value) {
  rec->Output.Kind = kind;
  rec->Output.Size = size;
  rec->Output.Value = value;
}

// The three blocks of a dialog description.
struct DialogBlocks {
  std::string form, data, code;

  // Form and code named by `name` (upper-cased): the resource itself and name + "_CODE".
  void FromFormName(ModuleHandle module, const std::string& name) {
    const std::string upper = AnsiUpperCase(name);
    form = ReadResource(module, upper);
    code = ReadResource(module, upper + "_CODE");
  }
  // The module's default dialog: code "FORM_DATA", form named by the resource "FORM_NAME".
  void FromDefaults(ModuleHandle module) {
    code = ReadResource(module, "FORM_DATA");
    const std::string name = ReadResource(module, "FORM_NAME");
    const std::string form_name = UpToZero(name.data(), name.size());
    if (!form_name.empty()) form = ReadResource(module, AnsiUpperCase(form_name));
  }
};

// Writes the header and the blocks; `buffer` holds at least 24 bytes plus the blocks.
void WriteDescription(uint8_t* buffer, const DialogBlocks& blocks) {
  uint32_t offset = kOptionsDialogHeaderSize;
  const std::string* parts[] = {&blocks.form, &blocks.data, &blocks.code};
  for (int i = 0; i < 3; ++i) {
    const uint32_t header[2] = {offset, static_cast<uint32_t>(parts[i]->size())};
    std::memcpy(buffer + 8 * i, header, sizeof header);
    std::memcpy(buffer + offset, parts[i]->data(), parts[i]->size());
    offset += header[1];
  }
}

// Tells every instance registered with the same settings as `origin` (itself included) to reload
// them: directly on its loader thread, else through its message window.
void ReloadSharedSettings(const TkivPlugin& origin) {
  const std::string path = origin.ModuleRegistryPath();
  const HostPlatform& platform = CurrentHostPlatform();
  const uint32_t thread = platform.CurrentThreadId();
  ForEachInstance([&](TkivPlugin& plugin) {
    try {
      if (plugin.ModuleRegistryPath() != path || !plugin.OnLoadSettingsNow) return;
      if (plugin.LoaderThread() == thread) {
        plugin.OnLoadSettingsNow(&plugin);
        return;
      }
      // Without a window nothing is posted: a null window would address this thread's queue.
      WindowHandle window = plugin.MessageWindow();
      if (!window) return;
      const auto index = static_cast<uintptr_t>(static_cast<uint32_t>(plugin.ModuleIndex()));
      if (!platform.PostNotice(window, kMsgReloadSettings, index, 0))
        platform.SendNoticeTimeout(window, kMsgReloadSettings, index, 0, kNotifySendTimeout);
    } catch (...) {
      // One instance's failure does not stop the others.
    }
  });
}

}  // namespace

TModuleResourceReader SetModuleResourceReader(TModuleResourceReader reader) {
  TModuleResourceReader previous = g_resource_reader.exchange(reader);
  return previous ? previous : SystemModuleResourceReader();
}

void GetOptionsDialogImpl(TPluginCallRec* rec) {
  if (!rec || !IsWritableMemory(rec, sizeof *rec)) return;
  SetOutput(rec, ckInteger, 0, kGetDialogNotFound);
  try {
    TPluginRef plugin = FindInstance(rec);
    if (!plugin) return;
    // The buffer as the host states it, checked once and used as checked.
    auto* buffer = reinterpret_cast<uint8_t*>(rec->Input.Value);
    uint32_t capacity = rec->Input.Size;
    if (!buffer || !IsReadableMemory(buffer, capacity)) {
      buffer = nullptr;
      capacity = 0;
    }
    std::string form_name = buffer ? UpToZero(reinterpret_cast<const char*>(buffer), capacity) : std::string();

    const ModuleHandle module = plugin->ModuleDllHandle();
    DialogBlocks blocks;
    if (!form_name.empty()) {
      blocks.FromFormName(module, form_name);
    } else if (!plugin->OnGetOptionsDialog) {
      blocks.FromDefaults(module);
    } else {
      try {
        plugin->OnGetOptionsDialog(plugin.get(), rec, form_name, blocks.data);
      } catch (const std::exception& e) {
        plugin->Log(0, std::string(e.what()) + " {GETOPTIONS}");
        SetOutput(rec, ckInteger, 0, kGetDialogEmpty);
        return;
      }
      if (form_name.empty() && blocks.data.empty()) {
        rec->Output.Value = kGetDialogEmpty;
        return;
      }
      if (!form_name.empty()) blocks.FromFormName(module, form_name);
    }

    const uint64_t content = uint64_t{blocks.form.size()} + blocks.data.size() + blocks.code.size();
    if (content == 0) {
      rec->Output.Value = kGetDialogEmpty;
      return;
    }
    const uint64_t total = content + kOptionsDialogHeaderSize;
    if (total > UINT32_MAX) return;  // cannot be described in 32 bits: stays a failure
    if (capacity < total) {
      SetOutput(rec, ckInteger, static_cast<uint32_t>(total), kGetDialogTooSmall);
      return;
    }
    WriteDescription(buffer, blocks);
    SetOutput(rec, ckBuffer, 0, static_cast<uint32_t>(total));
  } catch (...) {
    // Resources that cannot be held in memory, or a handler failing outside the base classes.
    SetOutput(rec, ckInteger, 0, kGetDialogEmpty);
  }
}

void ShowOptionsDialogImpl(TPluginCallRec* rec) {
  if (!rec || !IsWritableMemory(rec, sizeof *rec)) return;
  SetOutput(rec, ckInteger, 4, kShowDialogNotFound);
  TPluginRef plugin = FindInstance(rec);
  if (!plugin) return;
  if (!plugin->OnShowOptionsDialog) {
    rec->Output.Value = kShowDialogNoHandler;
    return;
  }
  // A record that cannot be prepared reaches the handler as the host passed it, without a
  // parameter interface.
  TPluginCallRecIntf saved;
  PrepareCallRec(rec, saved);
  // Every exit of the dialog call clears the instance's dialog state and restores the record.
  ScopeExit endDialog([&plugin, rec, &saved] {
    plugin->SetDialogOpen(false);
    plugin->SetDialogParams(nullptr);
    plugin->SetDialogOptions(0);
    RestoreCallRec(rec, saved);
  });
  rec->Output.Value = kShowDialogRunning;
  if (IkivParamsListA* params = saved.Prepared ? CallParams(*rec) : nullptr) {
    plugin->ReadIniFile(params, true);
    plugin->ApplyLanguage(params);
    int32_t owner = 0;
    if (ReadCallInt(params, "OWNER-FORM", owner))
      plugin->SetOwnerForm(reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(static_cast<uint32_t>(owner))));
  }
  plugin->SetDialogOpen(true);
  plugin->SetDialogOptions(rec->Options);
  plugin->SetDialogParams(saved.Prepared && saved.Copy.Input.Kind == ckParams ? CallSlotIntf(rec->Input) : nullptr);

  bool result = false;
  try {
    plugin->OnShowOptionsDialog(plugin.get(), rec, result);
  } catch (const Exception& e) {
    plugin->Log(0, e.Message() + " {SHOWOPTIONS}");
    result = false;
  } catch (...) {
    // Any other failure is not a confirmation either: the status stays one the host knows.
    LogCaughtException(*plugin.get(), "SHOWOPTIONS");
    result = false;
  }
  rec->Output.Value = result ? 1 : 0;
  if (result) ReloadSharedSettings(*plugin.get());
}

}  // namespace kiv
