#include "bridge/fifo_buffer_wrap.h"

#include <gtest/gtest.h>

#include <string>

#include "bridge/bridge_test_util.h"
#include "bridge/parser_client.h"

namespace {

using kiv::IntfPtr;
using kiv::TFIFOStream;

std::shared_ptr<TFIFOStream> StreamWith(std::string_view bytes) {
  auto stream = std::make_shared<TFIFOStream>(64, 8, true);
  stream->Write(bytes.data(), static_cast<int32_t>(bytes.size()));
  return stream;
}

std::string Read(IkivFifoBuffer* buffer) {
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  EXPECT_EQ(buffer->GetSize(&size), KIV_S_OK);
  EXPECT_EQ(buffer->GetData(&data), KIV_S_OK);
  return data ? std::string(reinterpret_cast<const char*>(data), size) : std::string();
}

// Calls slot `slot` of the buffer's function table, as an inner plugin does.
template <class... A>
kivHRESULT Slot(IkivFifoBuffer* buffer, int slot, A... args) {
  using Fn = kivHRESULT(KIV_STDCALL*)(void*, A...);
  return (*reinterpret_cast<Fn* const*>(buffer))[slot](buffer, args...);
}

TEST(FifoBufferWrap, ReadsInPlaceAndRemovesFromTheFront) {
  auto stream = StreamWith("0123456789");
  IntfPtr<IkivFifoBuffer> buffer = kiv::MakeFifoBuffer(stream);
  EXPECT_EQ(Read(buffer.get()), "0123456789");
  const uint8_t* data = nullptr;
  buffer->GetData(&data);
  EXPECT_EQ(data, stream->LockRead());  // the stream's own bytes, not a copy
  stream->UnlockRead();

  // Slots 3 to 6 in table order: GetSize, GetData, Clear, Remove.
  EXPECT_EQ(Slot(buffer.get(), 6, 4u), KIV_S_OK);
  uint32_t size = 0;
  EXPECT_EQ(Slot(buffer.get(), 3, &size), KIV_S_OK);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(Read(buffer.get()), "456789");
  EXPECT_EQ(Slot(buffer.get(), 5), KIV_S_OK);
  EXPECT_EQ(stream->Size(), 0);

  // An empty stream has no first byte.
  data = reinterpret_cast<const uint8_t*>(1);
  EXPECT_EQ(Slot(buffer.get(), 4, &data), KIV_S_OK);
  EXPECT_EQ(data, nullptr);
}

TEST(FifoBufferWrap, RemoveBeyondTheHeldBytesEmptiesEvenAboveTheSignedRange) {
  auto stream = StreamWith("abc");
  IntfPtr<IkivFifoBuffer> buffer = kiv::MakeFifoBuffer(stream);
  EXPECT_EQ(buffer->Remove(0x80000001u), KIV_S_OK);
  EXPECT_EQ(stream->Size(), 0);
  stream->Write("de", 2);
  EXPECT_EQ(buffer->Remove(0), KIV_S_OK);
  EXPECT_EQ(buffer->Remove(10), KIV_S_OK);
  EXPECT_EQ(stream->Size(), 0);
}

TEST(FifoBufferWrap, NullOutputsAreSkipped) {
  IntfPtr<IkivFifoBuffer> buffer = kiv::MakeFifoBuffer(StreamWith("ab"));
  EXPECT_EQ(buffer->GetSize(nullptr), KIV_S_OK);
  EXPECT_EQ(buffer->GetData(nullptr), KIV_S_OK);
  EXPECT_EQ(buffer->QueryInterface(IID_IkivFifoBuffer, nullptr), KIV_E_UNEXPECTED);
  EXPECT_THROW(kiv::MakeFifoBuffer(nullptr), kiv::EAssertionFailed);
}

TEST(FifoBufferWrap, AnswersOnlyItsOwnIdentifierAndCountsReferences) {
  auto stream = StreamWith("xyz");
  IntfPtr<IkivFifoBuffer> buffer = kiv::MakeFifoBuffer(stream);
  auto* wrap = static_cast<kiv::TFifoBufferWrap*>(buffer.get());
  EXPECT_EQ(wrap->RefCount(), 1);

  void* obj = reinterpret_cast<void*>(1);
  EXPECT_EQ(buffer->QueryInterface(IID_IkivParamsListW, &obj), KIV_E_NOINTERFACE);
  EXPECT_EQ(obj, nullptr);
  const kivGUID unknown = {0, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  EXPECT_EQ(buffer->QueryInterface(unknown, &obj), KIV_E_NOINTERFACE);
  EXPECT_EQ(buffer->QueryInterface(IID_IkivFifoBuffer, &obj), KIV_S_OK);
  EXPECT_EQ(obj, buffer.get());
  EXPECT_EQ(wrap->RefCount(), 2);
  EXPECT_EQ(static_cast<IkivFifoBuffer*>(obj)->Release(), 1);

  // The last release frees the wrapper only: the stream and its bytes stay.
  EXPECT_EQ(stream.use_count(), 2);
  buffer.reset();
  EXPECT_EQ(stream.use_count(), 1);
  EXPECT_EQ(stream->Size(), 3);
}

TEST(FifoBufferWrap, BufferOutlivingItsClientKeepsWorkingOnItsStream) {
  kiv::TCustomParserClientList clients;
  kiv::TCustomParserClient* client =
      clients.FindOrCreate(kiv::bridge_test::Rec(3), nullptr, false, &kiv::CreateCustomParserClient);
  client->AddData("0123456789", 10);
  IntfPtr<IkivFifoBuffer> buffer = kiv::MakeFifoBuffer(client->Stream());
  EXPECT_EQ(clients.RemoveIdle(0, true), 1);  // any limit 0 sweep removes the client
  EXPECT_EQ(clients.Count(), 0);
  EXPECT_EQ(Read(buffer.get()), "0123456789");
  EXPECT_EQ(buffer->Remove(4), KIV_S_OK);
  EXPECT_EQ(Read(buffer.get()), "456789");
  EXPECT_EQ(buffer->Clear(), KIV_S_OK);
  EXPECT_EQ(Read(buffer.get()), "");
}

}  // namespace
