// TFifoBufferWrap: a parser client's FIFO stream offered to the inner plugin as IkivFifoBuffer.
//
// Any thread may call it; the stream's own lock serialises it against the writer. The wrapper
// shares ownership of the stream, so a buffer the inner plugin keeps after its client was freed
// still works on that stream and never reaches freed memory.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "interfaces/intf_ptr.h"
#include "kiv/kiv_plugin.h"
#include "support/fifo_stream.h"

namespace kiv {

class TFifoBufferWrap final : public IkivFifoBuffer {
 public:
  // IkivUnknown: answers IID_IkivFifoBuffer only. The release that brings the count to 0 frees
  // the wrapper (and its share of the stream); a release too many is ignored.
  kivHRESULT KIV_STDCALL QueryInterface(const kivGUID& iid, void** obj) override;
  int32_t KIV_STDCALL AddRef() override;
  int32_t KIV_STDCALL Release() override;

  // IkivFifoBuffer. A null output is skipped; any failure gives KIV_E_UNEXPECTED.
  kivHRESULT KIV_STDCALL GetSize(uint32_t* size) override;
  // The first held byte, or null when none is held.
  kivHRESULT KIV_STDCALL GetData(const uint8_t** data) override;
  kivHRESULT KIV_STDCALL Clear() override;
  // Counts beyond the bytes held empty the stream.
  kivHRESULT KIV_STDCALL Remove(uint32_t count) override;

  int32_t RefCount() const { return refs_.load(); }
  const std::shared_ptr<TFIFOStream>& Stream() const { return stream_; }

 private:
  friend IntfPtr<IkivFifoBuffer> MakeFifoBuffer(std::shared_ptr<TFIFOStream> stream);
  explicit TFifoBufferWrap(std::shared_ptr<TFIFOStream> stream);
  ~TFifoBufferWrap();

  const std::shared_ptr<TFIFOStream> stream_;
  std::atomic<int32_t> refs_{0};
};

// A new buffer over `stream` holding one reference, which the receiver releases. Throws
// EAssertionFailed for a null stream.
IntfPtr<IkivFifoBuffer> MakeFifoBuffer(std::shared_ptr<TFIFOStream> stream);

}  // namespace kiv
