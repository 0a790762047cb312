#include "support/component.h"
#include "support/string_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace {

using kiv::MakeOwned;
using kiv::TComponent;

// Records its destruction so that tests can check who frees what and in which order.
class TTracked : public TComponent {
 public:
  TTracked(TComponent* owner, std::string name, std::vector<std::string>* log)
      : TComponent(owner), log_(log) {
    SetName(std::move(name));
    PublishTextField("Caption", caption);
  }
  ~TTracked() override { log_->push_back(Name()); }
  std::string ClassName() const override { return "TTracked"; }
  std::string caption;

 private:
  std::vector<std::string>* log_;
};

TEST(Component, OwnerKeepsComponentsInOrderAndFreesThemLastFirst) {
  std::vector<std::string> freed;
  {
    auto root = std::make_unique<TTracked>(nullptr, "Root", &freed);
    TTracked& a = MakeOwned<TTracked>(*root, "A", &freed);
    MakeOwned<TTracked>(*root, "B", &freed);
    MakeOwned<TTracked>(a, "A1", &freed);
    ASSERT_EQ(root->ComponentCount(), 2);
    EXPECT_EQ(root->Components(0)->Name(), "A");
    EXPECT_EQ(root->Components(1)->Name(), "B");
    EXPECT_EQ(root->Components(2), nullptr);
    EXPECT_EQ(root->Components(-1), nullptr);
    EXPECT_EQ(a.Components(0)->Owner(), &a);
    EXPECT_EQ(root->FindComponent("b"), root->Components(1));
    EXPECT_EQ(root->FindComponent("A1"), nullptr);  // only directly owned components
  }
  // An owner's own destructor body runs before it frees what it owns.
  EXPECT_EQ(freed, (std::vector<std::string>{"Root", "B", "A", "A1"}));
}

TEST(Component, ComponentFreedEarlyLeavesItsOwnerAndMovesBetweenOwners) {
  std::vector<std::string> freed;
  TTracked root(nullptr, "Root", &freed);
  TTracked other(nullptr, "Other", &freed);
  auto child = std::make_unique<TTracked>(&root, "Child", &freed);
  MakeOwned<TTracked>(root, "Kept", &freed);
  other.InsertComponent(*child);
  EXPECT_EQ(child->Owner(), &other);
  ASSERT_EQ(root.ComponentCount(), 1);
  child.reset();
  EXPECT_EQ(other.ComponentCount(), 0);
  EXPECT_THROW(root.Components(0)->InsertComponent(root), kiv::EAssertionFailed);
}

TEST(Component, PropertiesAreFoundByNameIgnoringCaseAndWorkThroughAccessors) {
  std::vector<std::string> log;
  TTracked c(nullptr, "Btn", &log);
  c.SetTag(10002);
  const kiv::TPropInfo* caption = c.FindProperty("CAPTION");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->Kind, kiv::TPropertyKind::Text);
  caption->SetText("Open");
  EXPECT_EQ(c.caption, "Open");
  EXPECT_EQ(c.FindProperty("name")->GetText(), "Btn");
  EXPECT_EQ(c.FindProperty("Tag")->GetOrdinal(), 10002);
  EXPECT_EQ(c.FindProperty("Captio"), nullptr);
}

TEST(StringLists, ChangeNotificationWaitsForTheOutermostUpdateBracket) {
  kiv::TStringList lines{"a", "b"};
  int changes = 0;
  lines.OnChange = [&] { ++changes; };
  lines.BeginUpdate();
  lines.BeginUpdate();
  lines.Put(0, "x");
  lines.Add("c");
  lines.EndUpdate();
  EXPECT_EQ(changes, 0);
  lines.EndUpdate();
  EXPECT_EQ(changes, 1);
  lines.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(lines.UpdateCount(), 0);
  EXPECT_EQ(lines.Get(0), "x");
  EXPECT_EQ(lines.IndexOf("c"), 2);
  EXPECT_THROW(lines.Get(3), kiv::EListError);
  EXPECT_THROW(lines.Put(-1, "y"), kiv::EListError);

  kiv::TStringList copy;
  copy.Assign(lines);
  EXPECT_EQ(copy.Count(), 3);
  EXPECT_EQ(copy.Get(2), "c");
}

TEST(Collection, OwnsItemsInOrder) {
  kiv::TCollection items;
  kiv::TCollectionItem& first = items.Add();
  items.Add();
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(items.Items(0), &first);
  EXPECT_EQ(items.Items(2), nullptr);
}

}  // namespace
