#include "support/strings.h"

#include "platform/code_page.h"
#include "platform/exception.h"
#include "platform/scope_exit.h"

namespace kiv {

void TUpdateCounter::EndUpdate() {
  if (updateCount_ <= 0) return;
  if (--updateCount_ == 0) Changed();
}

void TUpdateCounter::Changed() {
  if (updateCount_ == 0 && OnChange) OnChange();
}

void TStrings::Assign(const TStrings& source) {
  if (&source == this) return;
  BeginUpdate();
  ScopeExit endUpdate([this] { EndUpdate(); });
  Clear();
  for (int i = 0; i < source.Count(); ++i) Add(source.Get(i));
}

int TStrings::IndexOf(std::string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(Get(i), text)) return i;
  return -1;
}

}  // namespace kiv
