// Calls into another module's list interface whose method faults: copying items through the
// interfaces and copying an interface value each end with an error at that call, and the
// caller's own objects stay sound.
#include <gtest/gtest.h>

#include "interfaces/params_list_wrap.h"
#include "module/hostile_memory_win32.h"
#include "paramlist/variant.h"
#include "platform/exception.h"

namespace kiv {
namespace {

constexpr test::MethodFault kFaults[] = {test::MethodFault::kAccessViolation, test::MethodFault::kForeignException,
                                         test::MethodFault::kGarbageAddress};

IntfPtr<IkivParamsListA> AnsiOf(IkivParamsListW* w) {
  IntfPtr<IkivParamsListA> a;
  EXPECT_EQ(w->QueryInterface(IID_IkivParamsListA, reinterpret_cast<void**>(a.put())), KIV_S_OK);
  return a;
}

IntfPtr<IkivParamsListW> ListOf(int32_t count) {
  ParamsListPtr list = TkivParamsList::Create();
  for (int32_t i = 0; i < count; ++i) list->Add("n" + std::to_string(i), Variant::Int32(i).Data());
  return TkivParamsListWrap::Create(std::move(list));
}

TEST(ForeignFaults, CopyingItemsFailsWhereTheSourceOrTargetFaultsAndCopiesAfterwards) {
  struct Case {
    bool on_target;
    size_t slot;
  };
  for (const Case c : {Case{false, 3} /* GetCount */, Case{false, 12} /* GetItem */, Case{true, 19} /* Add */}) {
    for (const test::MethodFault fault : kFaults) {
      SCOPED_TRACE(testing::Message() << "slot " << c.slot << " fault " << int(fault));
      const IntfPtr<IkivParamsListW> source = ListOf(2), target = ListOf(0);
      const IntfPtr<IkivParamsListA> a_source = AnsiOf(source.get()), a_target = AnsiOf(target.get());
      {
        test::FaultingMethod patched(c.on_target ? a_target.get() : a_source.get(), c.slot, fault);
        EXPECT_THROW(TkivParamsListWrap::CopyItemsThroughInterfaces(a_source.get(), a_target.get(), 0, -1),
                     EAssertionFailed);
      }
      EXPECT_EQ(target->GetCount(), 0);
      TkivParamsListWrap::CopyItemsThroughInterfaces(a_source.get(), a_target.get(), 0, -1);
      EXPECT_EQ(target->GetCount(), 2);
    }
  }
}

TEST(ForeignFaults, AnInterfaceValueWhoseAddRefFaultsIsNotCopiedAndAFaultingReleaseIsDropped) {
  for (const test::MethodFault fault : kFaults) {
    SCOPED_TRACE(int(fault));
    const IntfPtr<IkivParamsListW> list = ListOf(0);
    TVarData value{};
    value.VType = varUnknown;
    value.VUnknown = list.get();
    {
      test::FaultingMethod patched(list.get(), 1, fault);
      EXPECT_THROW(VarCopyRaw(value), EVariantError);
    }
    TVarData copy = VarCopyRaw(value);
    const int32_t refs = TkivParamsListWrap::FromIntf(list.get())->RefCount();
    {
      test::FaultingMethod patched(list.get(), 2, fault);
      VarClear(copy);
    }
    EXPECT_EQ(copy.VType, varEmpty);
    EXPECT_EQ(TkivParamsListWrap::FromIntf(list.get())->RefCount(), refs);  // the reference stays held
    list->Release();                                                       // and is let go here
  }
}

}  // namespace
}  // namespace kiv
