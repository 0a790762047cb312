// The dialog exports: the description from resources (fed by a fake reader) or the application's
// handler, its sizes and statuses; the application's dialog with its state, handler results and
// exceptions, and the settings reload of the instances sharing the same settings.
#include "framework/options_dialog.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "plugin_call_helper.h"
#include "registered_instances.h"

namespace kiv {
namespace {

std::map<std::string, std::string> g_resources;
ModuleHandle g_resource_module = reinterpret_cast<ModuleHandle>(1);

std::string FakeResource(ModuleHandle module, const std::string& name) {
  g_resource_module = module;
  auto it = g_resources.find(name);
  return it == g_resources.end() ? std::string() : it->second;
}

struct Notice {
  WindowHandle window;
  uint32_t message;
  uintptr_t index;
  bool sent;
  bool operator==(const Notice&) const = default;
};
std::vector<Notice> g_notices;
bool g_post_works = true;

HostPlatform RecordingPlatform() {
  HostPlatform fake = SystemHostPlatform();
  fake.PostNotice = [](WindowHandle window, uint32_t message, uintptr_t w, intptr_t) {
    if (g_post_works) g_notices.push_back({window, message, w, false});
    return g_post_works;
  };
  fake.SendNoticeTimeout = [](WindowHandle window, uint32_t message, uintptr_t w, intptr_t, uint32_t timeout) {
    EXPECT_EQ(timeout, kNotifySendTimeout);
    g_notices.push_back({window, message, w, true});
    return true;
  };
  return fake;
}

std::string LastLogEntry(TkivPlugin& plugin) {
  ReadLocked<TStringList> lines(plugin.LogList());
  return lines->Count() ? lines->Strings(lines->Count() - 1) : std::string();
}

class OptionsDialogTest : public testing::RegisteredInstances {
 protected:
  OptionsDialogTest() : platform_(RecordingPlatform()) {
    g_resources.clear();
    g_notices.clear();
    g_post_works = true;
    previous_reader_ = SetModuleResourceReader(&FakeResource);
    previous_platform_ = SetHostPlatform(&platform_);
    handle_ = Create();
  }
  ~OptionsDialogTest() override {
    SetModuleResourceReader(previous_reader_);
    SetHostPlatform(previous_platform_);
  }

  // GetOptionsDialog with a buffer of `capacity` bytes (kFill) starting with `form_name`.
  static constexpr uint8_t kFill = 0xCD;
  TPluginCallRec* GetDialog(std::string_view form_name, uint32_t capacity, size_t extra = 16) {
    buffer_.assign(capacity + extra, kFill);
    std::memcpy(buffer_.data(), form_name.data(), form_name.size());
    if (form_name.size() < buffer_.size()) buffer_[form_name.size()] = 0;
    TPluginCallRec* rec = RecFor(handle_);
    host_.SetInput({0, capacity, 2, reinterpret_cast<uintptr_t>(buffer_.data())});
    GetOptionsDialogImpl(rec);
    return rec;
  }
  uint32_t U32(size_t at) const {
    uint32_t v;
    std::memcpy(&v, buffer_.data() + at, 4);
    return v;
  }
  std::string Block(int i) const {
    return std::string(reinterpret_cast<const char*>(buffer_.data()) + U32(8 * i), U32(8 * i + 4));
  }
  void ExpectStatus(uint32_t status) {
    EXPECT_EQ(host_.Output().Kind, ckInteger);
    EXPECT_EQ(host_.Output().Value, status);
  }

  HostPlatform platform_;
  const HostPlatform* previous_platform_ = nullptr;
  TModuleResourceReader previous_reader_ = nullptr;
  uintptr_t handle_ = 0;
  std::vector<uint8_t> buffer_;
};

TEST_F(OptionsDialogTest, NoResourcesAndNoHandlerDescribeNothing) {
  GetDialog("", 256);
  ExpectStatus(kGetDialogEmpty);
  EXPECT_EQ(buffer_[1], kFill);
}

TEST_F(OptionsDialogTest, UnknownInstanceIsReportedForBothExports) {
  host_.SetInstance(handle_ + 1);
  GetOptionsDialogImpl(static_cast<TPluginCallRec*>(host_.data()));
  ExpectStatus(kGetDialogNotFound);
  ShowOptionsDialogImpl(static_cast<TPluginCallRec*>(host_.data()));
  ExpectStatus(kShowDialogNotFound);
  EXPECT_EQ(host_.Output().Size, 4u);
  GetOptionsDialogImpl(nullptr);
  ShowOptionsDialogImpl(nullptr);
}

TEST_F(OptionsDialogTest, FormNameIsUpperCasedAndItsFormAndCodeAreWritten) {
  g_resources = {{"MYFORM", "<form/>"}, {"MYFORM_CODE", "code"}, {"myform", "wrong"}};
  const uint32_t total = 24 + 7 + 4;
  GetDialog("myForm", total);
  EXPECT_EQ(host_.Output().Kind, ckBuffer);
  EXPECT_EQ(host_.Output().Size, 0u);
  EXPECT_EQ(host_.Output().Value, total);
  EXPECT_EQ(U32(0), 24u);
  EXPECT_EQ(Block(0), "<form/>");
  EXPECT_EQ(U32(8), 31u);
  EXPECT_EQ(Block(1), "");
  EXPECT_EQ(Block(2), "code");
  EXPECT_EQ(buffer_[total], kFill);  // nothing past the stated size
  EXPECT_EQ(g_resource_module, Plugin(handle_).ModuleDllHandle());
}

TEST_F(OptionsDialogTest, ShortBufferGetsTheSizeNeededAndStaysUntouched) {
  g_resources = {{"MYFORM", "<form/>"}, {"MYFORM_CODE", "code"}};
  GetDialog("myform", 34);
  ExpectStatus(kGetDialogTooSmall);
  EXPECT_EQ(host_.Output().Size, 35u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer_.data())), "myform");
  for (size_t i = 7; i < buffer_.size(); ++i) EXPECT_EQ(buffer_[i], kFill) << i;
  // A form name filling the whole buffer is cut at the stated size.
  GetDialog("myformXYZ", 6);
  EXPECT_EQ(host_.Output().Size, 35u);
  // A buffer that is not readable memory has no room and no name.
  g_resources["FORM_DATA"] = "x";
  host_.SetInput({0, 100, 2, 0x10});
  GetOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(kGetDialogTooSmall);
  EXPECT_EQ(host_.Output().Size, 25u);
}

TEST_F(OptionsDialogTest, WithoutNameTheDefaultResourcesDescribeTheDialog) {
  g_resources = {{"FORM_NAME", std::string("opts\0", 5)}, {"OPTS", "F"}, {"FORM_DATA", "DD"}};
  GetDialog("", 64);
  EXPECT_EQ(host_.Output().Value, 24u + 3u);
  EXPECT_EQ(Block(0), "F");
  EXPECT_EQ(Block(2), "DD");
  // Only the code, when no form is named.
  g_resources.erase("FORM_NAME");
  GetDialog("", 64);
  EXPECT_EQ(Block(0), "");
  EXPECT_EQ(Block(2), "DD");
}

TEST_F(OptionsDialogTest, HandlerSuppliesFormNameAndData) {
  g_resources = {{"OPTS", "F"}, {"OPTS_CODE", "C"}, {"FORM_DATA", "unused"}};
  TkivPlugin& plugin = Plugin(handle_);
  std::string answer_name = "opts", answer_data = "data";
  plugin.OnGetOptionsDialog = [&](TObject* sender, TPluginCallRec* rec, std::string& name, std::string& data) {
    EXPECT_EQ(sender, &plugin);
    EXPECT_EQ(rec, static_cast<TPluginCallRec*>(host_.data()));
    name = answer_name;
    data = answer_data;
  };
  GetDialog("", 64);
  EXPECT_EQ(host_.Output().Value, 24u + 6u);
  EXPECT_EQ(Block(0), "F");
  EXPECT_EQ(Block(1), "data");
  EXPECT_EQ(Block(2), "C");
  // Data alone is a description too; nothing at all is not.
  answer_name.clear();
  GetDialog("", 64);
  EXPECT_EQ(Block(1), "data");
  EXPECT_EQ(Block(2), "");
  answer_data.clear();
  GetDialog("", 64);
  ExpectStatus(kGetDialogEmpty);
  // A given form name bypasses the handler.
  answer_data = "data";
  GetDialog("opts", 64);
  EXPECT_EQ(Block(1), "");
}

TEST_F(OptionsDialogTest, HandlerExceptionIsLoggedAndDescribesNothing) {
  TkivPlugin& plugin = Plugin(handle_);
  plugin.OnGetOptionsDialog = [](TObject*, TPluginCallRec*, std::string&, std::string&) {
    throw Exception("no form");
  };
  GetDialog("", 64);
  ExpectStatus(kGetDialogEmpty);
  EXPECT_EQ(LastLogEntry(plugin), MakeLogEntry(0, "no form {GETOPTIONS}", false));
}

TEST_F(OptionsDialogTest, ShowWithoutHandlerReportsIt) {
  ShowOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(kShowDialogNoHandler);
}

TEST_F(OptionsDialogTest, ShowGivesTheHandlerTheDialogStateAndRestoresTheRecord) {
  params_.Add("INI-FILE", kivhost::HostValue::Wide(u"C:\\cfg\\app.ini"));
  params_.Add("OWNER-FORM", kivhost::HostValue::Int(0x1234));
  kivhost::HostParamsList dialog_list;
  dialog_list.Add("Page", kivhost::HostValue::Int(2));
  TkivPlugin& plugin = Plugin(handle_);
  bool saw_state = false;
  plugin.OnShowOptionsDialog = [&](TObject*, TPluginCallRec* rec, bool& result) {
    saw_state = plugin.DialogOpen() && plugin.DialogOptions() == 0x21 && plugin.DialogParams() &&
                rec->Input.Kind == ckParamsIntf && rec->Output.Value == kShowDialogRunning;
    result = true;
  };
  host_.SetOptions(0x21);
  host_.SetInput({0, 0, ckParams, reinterpret_cast<uintptr_t>(dialog_list.Object())});
  ShowOptionsDialogImpl(RecFor(handle_));
  EXPECT_TRUE(saw_state);
  ExpectStatus(1);
  EXPECT_EQ(host_.Output().Size, 4u);
  EXPECT_EQ(plugin.INIFile(), "C:\\cfg\\app.ini");
  EXPECT_EQ(plugin.OwnerForm(), reinterpret_cast<WindowHandle>(0x1234));
  EXPECT_FALSE(plugin.DialogOpen());
  EXPECT_EQ(plugin.DialogOptions(), 0);
  EXPECT_EQ(plugin.DialogParams(), nullptr);
  EXPECT_EQ(host_.Params(), reinterpret_cast<uintptr_t>(params_.Object()));
  EXPECT_EQ(host_.Input().Kind, ckParams);
  EXPECT_EQ(host_.Input().Value, reinterpret_cast<uintptr_t>(dialog_list.Object()));
}

TEST_F(OptionsDialogTest, ShowHandlerFailures) {
  TkivPlugin& plugin = Plugin(handle_);
  int reloads = 0;
  plugin.OnLoadSettingsNow = [&](TObject*) { ++reloads; };
  plugin.OnShowOptionsDialog = [](TObject*, TPluginCallRec*, bool& result) {
    result = true;
    throw Exception("cancelled");
  };
  ShowOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(0);
  EXPECT_EQ(LastLogEntry(plugin), MakeLogEntry(0, "cancelled {SHOWOPTIONS}", false));
  EXPECT_EQ(reloads, 0);

  // An exception outside the common base is caught too: "not confirmed", with the dialog state and
  // record restored, never the running status.
  plugin.OnShowOptionsDialog = [](TObject*, TPluginCallRec*, bool&) { throw std::logic_error("bug"); };
  plugin.SetDialogParams(nullptr);
  ShowOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(0);
  EXPECT_FALSE(plugin.DialogOpen());
  EXPECT_EQ(host_.Params(), reinterpret_cast<uintptr_t>(params_.Object()));

  plugin.OnShowOptionsDialog = [](TObject*, TPluginCallRec*, bool& result) { result = false; };
  ShowOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(0);
  EXPECT_EQ(reloads, 0);
}

class ReloadWalkTest : public OptionsDialogTest {
 protected:
  // Loads `handle` with `path` and `index`, on this thread or another.
  void Load(uintptr_t handle, std::u16string_view path, int32_t index, bool other_thread) {
    auto load = [&] {
      testing::PreparedCall call;
      call.Text("REGISTRY-PATH", path);
      call.Host().SetModuleIndex(index);
      Plugin(handle).PluginLoad(call.Rec());
    };
    if (other_thread)
      std::thread(load).join();
    else
      load();
  }
};

TEST_F(ReloadWalkTest, ConfirmedDialogReloadsEveryInstanceWithTheSamePath) {
  const uintptr_t same_here = Create(), same_elsewhere = Create(), other_path = Create(), failing = Create();
  Load(handle_, u"Software\\App", 1, false);
  Load(same_here, u"Software\\App", 2, false);
  Load(same_elsewhere, u"Software\\App", 3, true);
  Load(other_path, u"Software\\Other", 4, false);
  Load(failing, u"Software\\App", 5, false);
  std::vector<int> reloaded;
  for (auto [handle, tag] : {std::pair{handle_, 1}, {same_here, 2}, {same_elsewhere, 3}, {other_path, 4}}) {
    Plugin(handle).OnLoadSettingsNow = [&reloaded, tag = tag](TObject*) { reloaded.push_back(tag); };
  }
  Plugin(failing).OnLoadSettingsNow = [](TObject*) { throw Exception("broken"); };
  int window_tag = 0;
  Plugin(same_elsewhere).SetMessageWindow(&window_tag);
  Plugin(handle_).OnShowOptionsDialog = [](TObject*, TPluginCallRec*, bool& result) { result = true; };

  ShowOptionsDialogImpl(RecFor(handle_));
  ExpectStatus(1);
  // Same thread: called directly, in registry order, past the failing one; the instance loaded
  // elsewhere is told through its window with its module index.
  EXPECT_EQ(reloaded, (std::vector<int>{1, 2}));
  EXPECT_EQ(g_notices, (std::vector<Notice>{{&window_tag, kMsgReloadSettings, 3, false}}));

  g_post_works = false;
  ShowOptionsDialogImpl(RecFor(handle_));
  EXPECT_EQ(g_notices, (std::vector<Notice>{{&window_tag, kMsgReloadSettings, 3, false},
                                            {&window_tag, kMsgReloadSettings, 3, true}}));
}

}  // namespace
}  // namespace kiv
