#include "bridge/fifo_buffer_wrap.h"

#include <limits>
#include <utility>

#include "interfaces/clamped_release.h"
#include "interfaces/diagnostics.h"
#include "platform/exception.h"
#include "platform/readable_memory.h"

namespace kiv {

IntfPtr<IkivFifoBuffer> MakeFifoBuffer(std::shared_ptr<TFIFOStream> stream) {
  if (!stream) throw EAssertionFailed("MakeFifoBuffer: no stream");
  return IntfPtr<IkivFifoBuffer>(new TFifoBufferWrap(std::move(stream)));
}

TFifoBufferWrap::TFifoBufferWrap(std::shared_ptr<TFIFOStream> stream) : stream_(std::move(stream)) {
  CountDiagnostic(Diagnostics().FifoBuffers, 1);
}

TFifoBufferWrap::~TFifoBufferWrap() { CountDiagnostic(Diagnostics().FifoBuffers, -1); }

kivHRESULT TFifoBufferWrap::QueryInterface(const kivGUID& iid, void** obj) {
  if (!obj) return KIV_E_UNEXPECTED;
  *obj = nullptr;
  if (!IsReadableMemory(&iid, sizeof iid)) return KIV_E_UNEXPECTED;
  if (!kivIsEqualGUID(&iid, &IID_IkivFifoBuffer)) return KIV_E_NOINTERFACE;
  *obj = static_cast<IkivFifoBuffer*>(this);
  AddRef();
  return KIV_S_OK;
}

int32_t TFifoBufferWrap::AddRef() { return refs_.fetch_add(1) + 1; }

int32_t TFifoBufferWrap::Release() {
  return ClampedRelease(refs_, [this](int32_t left) {
    if (left == 0) delete this;
  });
}

kivHRESULT TFifoBufferWrap::GetSize(uint32_t* size) {
  KIV_BOUNDARY_BEGIN
  const int32_t held = stream_->Size();
  if (size) *size = static_cast<uint32_t>(held);
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TFifoBufferWrap::GetData(const uint8_t** data) {
  if (data) *data = nullptr;
  KIV_BOUNDARY_BEGIN
  // Taking the write lock waits for a write in progress; the bytes stay put after the release.
  const uint8_t* first = nullptr;
  {
    WriteLocked<uint8_t> locked(*stream_);
    if (stream_->Size() > 0) first = locked.get();
  }
  if (data) *data = first;
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TFifoBufferWrap::Clear() {
  KIV_BOUNDARY_BEGIN
  stream_->Clear();
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

kivHRESULT TFifoBufferWrap::Remove(uint32_t count) {
  KIV_BOUNDARY_BEGIN
  // The stream takes a signed count and ignores negative ones: clamp, so that a count above
  // the signed range still empties it.
  constexpr uint32_t kMax = static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  stream_->Remove(static_cast<int32_t>(count > kMax ? kMax : count));
  return KIV_S_OK;
  KIV_BOUNDARY_END(KIV_E_UNEXPECTED)
}

}  // namespace kiv
