// A list interface crosses a real DLL boundary: a test inner plugin built against the SDK alone
// reads and adds items in both forms, and the module sees them.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "interfaces/intf_test_util.h"
#include "interfaces/params_list_wrap.h"

namespace kiv {
namespace {

class InnerPlugin : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dll(path, n);
    dll = dll.substr(0, dll.find_last_of("\\/") + 1) + "kiv_inner_test.dll";
    lib_ = LoadLibraryA(dll.c_str());
    ASSERT_NE(lib_, nullptr) << dll;
  }
  void TearDown() override {
    if (lib_) FreeLibrary(lib_);
  }
  template <class Fn>
  Fn Export(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(lib_, name)));
  }

  HMODULE lib_ = nullptr;
};

TEST_F(InnerPlugin, ReadsAndAddsItemsInBothFormsThatTheCallerSees) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Input", Variant::Int32(21));
  list->Add("Text", Variant::Wide(u"hello"));
  ParamsListBorrow borrow(*list);
  IntfPtr<IkivParamsListW> w(borrow.W());

  auto fill = Export<int(KIV_STDCALL*)(IkivParamsListW*)>("InnerFillList");
  ASSERT_NE(fill, nullptr);
  ASSERT_EQ(fill(w.get()), 0) << "failed check at that line of inner_plugin_dll.cpp";

  EXPECT_EQ(borrow.Wrap().RefCount(), 1);  // everything the plugin took it gave back
  EXPECT_EQ(list->GetValue("doubled").Data().VInteger, 42);
  EXPECT_EQ(list->GetValue("note").AsWide(), u"from dll");
  EXPECT_EQ(list->Find("note")->DataType(), KIV_VT_BSTR);
  EXPECT_EQ(list->GetValue("firstname").AsWide(), u"Input");
  ASSERT_EQ(list->Count(), 6);
  EXPECT_EQ(list->Items(5)->Name(), "Input");  // AddItem's copy of item 0
}

TEST_F(InnerPlugin, ItemKeptAcrossTheBoundaryFailsSafelyAfterItsItemIsDeleted) {
  IntfPtr<IkivParamsListW> w = TkivParamsListWrap::Create();
  IntfPtr<IkivParamsListA> a;
  ASSERT_EQ(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a.put())), KIV_S_OK);
  const kivVARIANT v = test::I4(1);
  ASSERT_EQ(w->Add(KIV_TEXT_W("Input"), &v, nullptr), KIV_S_OK);

  ASSERT_EQ(Export<int(KIV_STDCALL*)(IkivParamsListA*)>("InnerKeepItem")(a.get()), 0);
  w->Delete(0);
  a.reset();
  w.reset();  // the list is freed while the plugin still holds the item
  EXPECT_EQ(Export<int(KIV_STDCALL*)()>("InnerUseKeptItem")(), 0);
}

TEST_F(InnerPlugin, EightBitTextBehindReferencesAndInArraysIsReadAsText) {
  ParamsListPtr list = TkivParamsList::Create();
  ParamsListBorrow borrow(*list);
  ASSERT_EQ(Export<int(KIV_STDCALL*)(IkivParamsListA*)>("InnerAddReferencedText")(borrow.A()), 0);
  EXPECT_EQ(list->GetValue("byref").AsWide(), u"referenced");
  const Variant array = list->GetValue("array");
  ASSERT_EQ(array.VType(), varArray | varVariant);
  const auto* elements = static_cast<const TVarData*>(array.Data().VArray->pvData);
  EXPECT_EQ(Variant::Copy(elements[0]).AsWide(), u"referenced");
  EXPECT_EQ(Variant::Copy(elements[1]).AsWide(), u"referenced");
}

TEST_F(InnerPlugin, KeptItemFailsWhenANewItemTookItsAddress) {
  test::RecyclingAllocator recycling;
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Input", Variant::Int32(1));
  const TkivParamsListItem* address = list->Items(0);
  {
    ParamsListBorrow borrow(*list);
    ASSERT_EQ(Export<int(KIV_STDCALL*)(IkivParamsListA*)>("InnerKeepItem")(borrow.A()), 0);
    list->Clear();
    list->Add("Input", Variant::Int32(2));
    ASSERT_EQ(list->Items(0), address);
    EXPECT_EQ(Export<int(KIV_STDCALL*)()>("InnerUseKeptItem")(), 0);
  }
  list.reset();
}

TEST_F(InnerPlugin, ListKeptPastItsBorrowFailsAfterTheOwnerFreedIt) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Input", Variant::Int32(1));
  {
    ParamsListBorrow borrow(*list);
    ASSERT_EQ(Export<int(KIV_STDCALL*)(IkivParamsListW*)>("InnerKeepList")(borrow.W()), 0);
  }
  list.reset();
  EXPECT_EQ(Export<int(KIV_STDCALL*)()>("InnerUseKeptList")(), 0);
}

TEST_F(InnerPlugin, PointersThatAreNoListFailAsTheOtherList) {
  ParamsListPtr list = TkivParamsList::Create();
  list->Add("Input", Variant::Int32(1));
  ParamsListBorrow borrow(*list);
  EXPECT_EQ(Export<int(KIV_STDCALL*)(IkivParamsListW*)>("InnerAppendNonLists")(borrow.W()), 0);
  EXPECT_EQ(list->Count(), 1);
}

}  // namespace
}  // namespace kiv
