#include "bridge/parser_client.h"

#include "bridge/fifo_buffer_wrap.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "interfaces/diagnostics.h"

namespace kiv {
namespace {

constexpr int32_t kDiscardStep = 64;

using ClientHashList = TCustomParserClientList::List;

bool IsPlaceholderName(std::string_view name) { return name.substr(0, kPlaceholderPrefix.size()) == kPlaceholderPrefix; }

uintptr_t KeyOf(int32_t dataSourceId) { return static_cast<uintptr_t>(static_cast<uint32_t>(dataSourceId)); }

}  // namespace

std::string ParserClientBaseName(std::string_view name) {
  const size_t cut = name.find_last_of(".:");
  return cut == std::string_view::npos ? std::string() : std::string(name.substr(0, cut));
}

std::string_view CallRecSourceName(const TPluginCallRec& rec) {
  const size_t n = sizeof rec.DataSourceName;
  const void* end = std::memchr(rec.DataSourceName, 0, n);
  return {rec.DataSourceName, end ? static_cast<size_t>(static_cast<const char*>(end) - rec.DataSourceName) : n};
}

TCustomParserClient::TCustomParserClient(TkivPlugin* plugin, const TPluginCallRec& rec, int32_t bufferSize)
    : FOwner(plugin),
      FBufferSize(bufferSize),
      FStream(std::make_shared<TFIFOStream>(bufferSize == 0 ? kDefaultParserBufferSize : bufferSize,
                                            kDiscardStep, true)),
      FHostValue(rec.Context),
      FFromNotify(rec.Input.Kind == ckNotify) {
  InitFromRecord(rec);
  CountDiagnostic(Diagnostics().ParserClients, 1);
}

TCustomParserClient::~TCustomParserClient() { CountDiagnostic(Diagnostics().ParserClients, -1); }

IkivFifoBuffer* TCustomParserClient::NewBufferReference() {
  LockGuard<FastMutex> lock(state_mutex_);
  if (!buffer_) buffer_ = MakeFifoBuffer(FStream);
  buffer_->AddRef();
  return buffer_.get();
}

void TCustomParserClient::InitFromRecord(const TPluginCallRec& rec) {
  const std::string_view name = CallRecSourceName(rec);
  FDataSourceId = rec.DataSourceId;
  FDataSourceName.assign(name);
  FBaseName = ParserClientBaseName(name);
  FPlaceholder = IsPlaceholderName(name);
}

void TCustomParserClient::RestartIdle() { FIdle.Restart(); }

bool TCustomParserClient::GetFlag() const {
  LockGuard<FastMutex> guard(state_mutex_);
  return FFlag;
}

void TCustomParserClient::SetFlag(bool flag) {
  LockGuard<FastMutex> guard(state_mutex_);
  FFlag = flag;
  RestartIdle();
}

void TCustomParserClient::ResetState() {
  LockGuard<FastMutex> guard(state_mutex_);
  FFresh = true;
  RestartIdle();
}

bool TCustomParserClient::Fresh() const {
  LockGuard<FastMutex> guard(state_mutex_);
  return FFresh;
}

void TCustomParserClient::ClearBuffer() { FStream->Clear(); }

void TCustomParserClient::AddText(std::string_view text) {
  if (!text.empty())
    CountDiagnostic(Diagnostics().StreamBytesDiscarded, FStream->Write(text.data(), static_cast<int32_t>(text.size())));
  {
    LockGuard<FastMutex> guard(state_mutex_);
    if (!FInactive) RestartIdle();
  }
  TextAdded(text);
}

void TCustomParserClient::AddData(const void* data, int32_t length) {
  if (length > 0) {
    CountDiagnostic(Diagnostics().StreamBytesDiscarded, FStream->Write(data, length));
    CountDiagnostic(Diagnostics().StreamBytesFed, length);
  }
  {
    LockGuard<FastMutex> guard(state_mutex_);
    if (!FInactive) RestartIdle();
  }
  DataAdded(data, length);
}

int32_t TCustomParserClient::AddPiece(const void* data, int32_t length, uint32_t& dropped) {
  if (length <= 0) {
    AddData(data, 0);
    return 0;
  }
  int32_t taken = FStream->WriteSome(data, length);
  if (taken == 0) {
    // Full: the consumer left it so. The oldest bytes give way, a stream's worth at most, so
    // that a consumer that never removes anything still sees the newest bytes.
    taken = FStream->Capacity() > 0 ? std::min(length, FStream->Capacity()) : length;
    const int32_t lost = FStream->Write(data, taken);
    CountDiagnostic(Diagnostics().StreamBytesDiscarded, lost);
    dropped += static_cast<uint32_t>(lost);
  }
  CountDiagnostic(Diagnostics().StreamBytesFed, taken);
  {
    LockGuard<FastMutex> guard(state_mutex_);
    if (!FInactive) RestartIdle();
  }
  DataAdded(data, taken);
  return taken;
}

void TCustomParserClient::TextAdded(std::string_view) {}
void TCustomParserClient::DataAdded(const void*, int32_t) {}

void TCustomParserClient::SetInactive(bool inactive) {
  LockGuard<FastMutex> guard(state_mutex_);
  if (FInactive == inactive) return;
  FInactive = inactive;
  if (inactive) RestartIdle();
}

bool TCustomParserClient::Inactive() const {
  LockGuard<FastMutex> guard(state_mutex_);
  return FInactive;
}

bool TCustomParserClient::IsIdle(uint32_t limitMs) {
  {
    LockGuard<FastMutex> guard(state_mutex_);
    if (!FIdle.Elapsed(limitMs)) return false;
  }
  SetInactive(true);
  return true;
}

void TCustomParserClient::StartSourceClosing() {
  LockGuard<FastMutex> guard(state_mutex_);
  FIdle.StartShifted(kSourceClosingShift);
}

std::unique_ptr<TCustomParserClient> CreateCustomParserClient(TkivPlugin* plugin, const TPluginCallRec& rec) {
  return std::make_unique<TCustomParserClient>(plugin, rec);
}

// What a look-up found: the client for the key, else the first placeholder met.
struct TCustomParserClientList::Match {
  TCustomParserClient* found = nullptr;
  TCustomParserClient* placeholder = nullptr;
  uintptr_t placeholderKey = 0;
};

// Entries are keyed by their client's id, so the key finds the client directly; the walk is
// needed only for a placeholder when the key has none, and only while there is one.
TCustomParserClientList::Match TCustomParserClientList::Search(const List& list, int32_t dataSourceId,
                                                               bool activeOnly) const {
  Match m;
  TCustomParserClient* byKey = list.GetValue(KeyOf(dataSourceId));
  if (byKey && !(activeOnly && byKey->Inactive())) {
    m.found = byKey;
    return m;
  }
  if (placeholders_ == 0) return m;
  list.ForEach([&](uintptr_t key, TCustomParserClient* client, bool& stop) {
    if (client->Placeholder()) {
      m.placeholder = client;
      m.placeholderKey = key;
      stop = true;
    }
  });
  return m;
}

void TCustomParserClientList::Put(List& list, uintptr_t key, TCustomParserClient* client) {
  const TCustomParserClient* replaced = list.GetValue(key);
  const bool placeholderGoes = replaced && replaced != client && replaced->FPlaceholder;
  list.Add(key, client);  // frees `replaced` (unless it is `client`)
  if (placeholderGoes) --placeholders_;
}

void TCustomParserClientList::Put(List& list, uintptr_t key, std::unique_ptr<TCustomParserClient> client) {
  const bool placeholder = client->FPlaceholder;
  Put(list, key, client.get());
  client.release();  // the list owns it now
  if (placeholder) ++placeholders_;
}

int32_t TCustomParserClientList::PlaceholderCount() {
  ReadLocked<List> reader(*this);
  return placeholders_;
}

TCustomParserClient* TCustomParserClientList::FindOrCreate(const TPluginCallRec& rec, TkivPlugin* plugin,
                                                           bool activeOnly, TParserClientFactory factory) {
  const bool placeholderName = IsPlaceholderName(CallRecSourceName(rec));
  ReadLocked<List> reader(*this);
  const Match m = Search(*reader, rec.DataSourceId, activeOnly);
  if (m.found) return m.found;
  // A placeholder asked for by another placeholder name is returned as it is.
  if (m.placeholder && placeholderName) return m.placeholder;
  if (!m.placeholder && !factory) return nullptr;

  // Take-over and creation change the list: promote, then look again, since another thread
  // may have created this client or taken the placeholder while the read share was set aside.
  WriteLocked<List> writer(*this);
  const Match again = Search(*writer, rec.DataSourceId, activeOnly);
  if (again.found) return again.found;
  if (TCustomParserClient* client = again.placeholder) {
    if (placeholderName) return client;
    // Re-key first (the only step that may fail), so that a failure changes nothing.
    const uintptr_t key = KeyOf(rec.DataSourceId);
    if (key != again.placeholderKey) {
      Put(*writer, key, client);
      (void)writer->Extract(again.placeholderKey);  // the same client, now under `key`
    }
    client->InitFromRecord(rec);
    client->FPlaceholder = client->FDataSourceId == 0;
    if (!client->FPlaceholder) --placeholders_;
    if (!client->FPlaceholder && rec.Input.Kind == ckNotify) client->FFromNotify = true;
    return client;
  }
  if (!factory) return nullptr;
  std::unique_ptr<TCustomParserClient> created = factory(plugin, rec);
  TCustomParserClient* client = created.get();
  Put(*writer, KeyOf(client->FDataSourceId), std::move(created));
  return client;
}

int TCustomParserClientList::RemoveIdle(uint32_t limitMs, bool remove) {
  std::vector<std::pair<uintptr_t, TCustomParserClient*>> idle;
  std::vector<std::unique_ptr<TCustomParserClient>> removed;  // freed after the locks
  {
    ReadLocked<List> reader(*this);
    reader->ForEach([&](uintptr_t key, TCustomParserClient* client, bool&) {
      if (client->IsIdle(limitMs)) idle.emplace_back(key, client);
    });
    if (remove && !idle.empty()) {
      removed.reserve(idle.size());
      WriteLocked<List> writer(*this);
      // Another writer may have run during the promotion: remove only entries unchanged since.
      for (const auto& [key, client] : idle) {
        if (writer->GetValue(key) != client || !client->Inactive()) continue;
        removed.emplace_back(writer->Extract(key));
        if (client->FPlaceholder) --placeholders_;
      }
    }
  }
  return static_cast<int>(idle.size());
}

}  // namespace kiv
