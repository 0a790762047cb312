#include <memory>

#include "support/timer_ex.h"
#include "translation/unload_timer.h"

namespace kiv {
namespace {

// A TkivTimerEx: ticks on the thread that created it, through that thread's message loop.
class TWindowUnloadTimer : public TUnloadTimer {
 public:
  TWindowUnloadTimer(std::uint32_t intervalMs, std::function<void()> onTick)
      : timer_(std::make_unique<TkivTimerEx>(nullptr)) {
    timer_->SetEnabled(false);
    timer_->SetInterval(intervalMs);
    timer_->SetOnTimer([tick = std::move(onTick)](TObject*) { tick(); });
  }
  ~TWindowUnloadTimer() override { FreeTimer(timer_); }

  void SetEnabled(bool enabled) override { timer_->SetEnabled(enabled); }

 private:
  std::unique_ptr<TkivTimerEx> timer_;
};

}  // namespace

std::unique_ptr<TUnloadTimer> CreateSystemUnloadTimer(std::uint32_t intervalMs,
                                                      std::function<void()> onTick) {
  return std::make_unique<TWindowUnloadTimer>(intervalMs, std::move(onTick));
}

}  // namespace kiv
