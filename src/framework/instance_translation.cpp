// Translation of a plugin instance: the translator's set-up at construction, the translation
// into the instance's language, and the language application of the LOAD command.
#include "framework/call_params.h"
#include "framework/plugin.h"
#include "platform/exception.h"
#include "platform/path_names.h"
#include "settings/file_stream.h"
#include "translation/translator.h"

namespace kiv {

namespace {

constexpr const char* kSourceLanguage = "EN";
constexpr const char* kSharedLanguageFile = "plugins.lng";

// `fileName` with its extension (from the last '.' of the name part) replaced by `extension`.
std::string ChangeFileExt(const std::string& fileName, const std::string& extension) {
  const size_t folder = FileFolder(fileName).size();
  const size_t dot = fileName.rfind('.');
  const size_t end = dot != std::string::npos && dot >= folder ? dot : fileName.size();
  return fileName.substr(0, end) + extension;
}

}  // namespace

void TkivPlugin::SetUpTranslation() {
  translator_ = std::make_unique<TWtransl>(nullptr);
  const std::string app_folder = FileFolder(CurrentHostPlatform().ApplicationFileName());
  const std::string own_file = file_.Path + ChangeFileExt(file_.Name, ".lng");
  translator_->SetLanguageFile(app_folder + kSharedLanguageFile + "|" + own_file);
  translator_->CurrentLanguage = kSourceLanguage;
  language_ = kSourceLanguage;
  // Without a language file of its own the instance stays untranslated, shared file or not.
  if (!file_.Name.empty() && FileExists(own_file))
    language_ = translator_->GetDefaultLanguage();
  else
    translator_->SetLanguageFile({});
  for (const char* name : {"MsgNoData", "MsgWriteComplete", "MsgWriteCompleteError"})
    if (translator_->ComponentProperties().IndexOf(name) < 0) translator_->ComponentProperties().Add(name);
}

void TkivPlugin::Translate() {
  if (translated_ || language_.empty() || !translator_) return;
  translated_ = true;  // stays set also when translating fails
  translator_->Translate(language_, this, kSourceLanguage);
}

void TkivPlugin::ApplyLanguage(IkivParamsListA* params) {
  std::string language;
  if (!ReadCallText(params, "LANGUAGE", language) || language.empty() || language_.empty()) return;
  // Only a repeat of the language in use re-applies it; another language leaves the instance
  // as it is, and LOAD succeeds either way.
  if (language != language_) return;
  translated_ = false;
  Translate();
  if (OnLanguageChanged) {
    language_ = language;
    try {
      OnLanguageChanged(this);
    } catch (const std::exception& e) {
      Log(0, std::string("{TRANSL} ") + e.what());
    } catch (...) {
      Log(0, "{TRANSL} Unknown exception");
    }
  }
  language_ = language;
}

}  // namespace kiv
