// Parser clients: one per data source of a proxy instance, each collecting the raw bytes the
// host delivers for that source in a FIFO stream that the inner plugin parses in place.
//
// Threads: the client list is shared by the data threads of the host and the timer thread of
// the idle sweep. Look-ups hold the list's read lock; creation, take-over and removal promote to
// its write lock. A client's identity fields (data source, names, placeholder) change only under
// the list's write lock; its activity state (idle time-out, inactive and free flags) has a lock
// of its own, since data threads and the sweep both touch it under the read lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "framework/call_record.h"
#include "interfaces/intf_ptr.h"
#include "kiv/kiv_plugin.h"
#include "support/component.h"
#include "support/fast_mutex.h"
#include "support/fifo_stream.h"
#include "support/thread_ptr_uint_object_hash_list.h"
#include "support/timeout.h"

namespace kiv {

class TkivPlugin;

// A data-source name that marks a placeholder client (compared case-sensitively).
constexpr std::string_view kPlaceholderPrefix = "__UT__";
// Stream capacity used when a client asks for 0.
constexpr int32_t kDefaultParserBufferSize = 16384;
// The sweep's limit: a client idle this long is removed.
constexpr uint32_t kParserClientIdleLimit = 3600000;
// Notification 258 dates the idle start this far back, leaving three minutes to the limit.
constexpr int32_t kSourceClosingShift = -3420000;

// One data source's collector. The plugin-instance base class of the original design is not
// needed here (none of its operations are used), so the client derives from TObject.
class TCustomParserClient : public TObject {
 public:
  // A new client for `rec` (the "virtual constructor" of the list: subclasses provide their own
  // factory, see TParserClientFactory). `bufferSize` is the stream capacity, 0 for 16384.
  TCustomParserClient(TkivPlugin* plugin, const TPluginCallRec& rec, int32_t bufferSize = 0);
  ~TCustomParserClient() override;
  std::string ClassName() const override { return "TCustomParserClient"; }

  // Takes the identity of `rec`: data source id and name, base name, placeholder flag. The
  // list calls it under its write lock only.
  void InitFromRecord(const TPluginCallRec& rec);

  virtual bool GetFlag() const;
  // Sets the free flag and restarts the idle time-out.
  virtual void SetFlag(bool flag);
  // FFresh := true and restarts the idle time-out.
  virtual void ResetState();
  virtual void ClearBuffer();
  // Writes the bytes of `text` (none when empty), restarts the idle time-out unless inactive,
  // then calls TextAdded.
  virtual void AddText(std::string_view text);
  // Writes `length` bytes at `data` (none for length <= 0), restarts the idle time-out unless
  // inactive, then calls DataAdded.
  virtual void AddData(const void* data, int32_t length);
  // One piece of a data call's block: appends the first of the `length` bytes at `data` that fit
  // behind the held ones and returns how many it took (at least one for length > 0). Only a
  // full stream discards: then its oldest bytes give way to up to a stream's capacity of new
  // ones, and `dropped` gains the bytes discarded. Restarts the idle time-out unless inactive,
  // then calls DataAdded with the bytes taken.
  int32_t AddPiece(const void* data, int32_t length, uint32_t& dropped);

  // Sets the inactive flag when it changes; becoming inactive restarts the idle time-out.
  void SetInactive(bool inactive);
  bool Inactive() const;
  // Whether the idle time-out has passed `limitMs` (a client never fed counts as idle); an
  // idle client becomes inactive.
  bool IsIdle(uint32_t limitMs);
  // Notification 258: the source is closing, so the client expires three minutes from now
  // under the sweep's one-hour limit, unless data restarts its time-out.
  void StartSourceClosing();
  bool Fresh() const;

  TkivPlugin* Owner() const { return FOwner; }
  int32_t BufferSize() const { return FBufferSize; }
  // The stream; shared so that a FIFO buffer handed to the inner plugin keeps it alive after
  // the client is freed. Set at construction, never replaced.
  const std::shared_ptr<TFIFOStream>& Stream() const { return FStream; }
  // The FIFO buffer over the stream, with one new reference for the caller. The client keeps one
  // buffer for all callers (made on first use), so that a data call does not build one each time.
  IkivFifoBuffer* NewBufferReference();
  int32_t DataSourceId() const { return FDataSourceId; }
  const std::string& DataSourceName() const { return FDataSourceName; }
  const std::string& BaseName() const { return FBaseName; }
  int32_t HostValue() const { return FHostValue; }
  bool FromNotify() const { return FFromNotify; }
  bool Placeholder() const { return FPlaceholder; }

 protected:
  // Hooks for subclasses, called after the bytes were written.
  virtual void TextAdded(std::string_view text);
  virtual void DataAdded(const void* data, int32_t length);

 private:
  friend class TCustomParserClientList;

  void RestartIdle() REQUIRES(state_mutex_);

  TkivPlugin* const FOwner;
  const int32_t FBufferSize;
  const std::shared_ptr<TFIFOStream> FStream;
  // Identity: written under the list's write lock, read under its read lock.
  int32_t FDataSourceId = 0;
  std::string FDataSourceName;
  std::string FBaseName;
  const int32_t FHostValue;
  bool FFromNotify;
  bool FPlaceholder = false;
  // Activity, shared by the data path and the sweep.
  mutable FastMutex state_mutex_;
  bool FInactive GUARDED_BY(state_mutex_) = false;
  bool FFlag GUARDED_BY(state_mutex_) = false;
  bool FFresh GUARDED_BY(state_mutex_) = true;
  TTimeout FIdle GUARDED_BY(state_mutex_){};  // zeroed until the first activity
  IntfPtr<IkivFifoBuffer> buffer_ GUARDED_BY(state_mutex_);  // made on first use
};

// Makes a client of some class for (plugin, record); may throw.
using TParserClientFactory = std::unique_ptr<TCustomParserClient> (*)(TkivPlugin* plugin,
                                                                      const TPluginCallRec& rec);
// The factory of TCustomParserClient itself.
std::unique_ptr<TCustomParserClient> CreateCustomParserClient(TkivPlugin* plugin,
                                                              const TPluginCallRec& rec);

// The FBaseName rule: `name` up to, not including, its last '.' or ':'; empty without either.
std::string ParserClientBaseName(std::string_view name);
// The record's DataSourceName (at most 50 bytes, zero-terminated unless all are used).
std::string_view CallRecSourceName(const TPluginCallRec& rec);

// The clients of one instance keyed by data source id; owns them.
//
// Keys: every entry is keyed by its client's FDataSourceId. A placeholder taken over by a new
// data source is re-keyed to the new id under the write lock, so look-ups go straight to the
// key, and a later record with the placeholder's old id makes a client of its own instead of
// replacing (and freeing) the taken-over one.
//
// Look-ups: the key finds a data source's client at once. A placeholder is looked for (a walk of
// every client, in visiting order) only while the list holds one: the list counts them, so the
// list must be changed through FindOrCreate and RemoveIdle only.
//
// Locks: a caller may hold the read lock (LockRead) around FindOrCreate and the use of the
// client it returns; FindOrCreate and RemoveIdle take it again and promote to the write lock.
// While a thread waits for the promotion its read share is set aside, so two promoting threads
// cannot deadlock, but another writer may run first: a client pointer obtained before a call
// that may promote can be stale afterwards (keep Stream() when the bytes are still needed).
class TCustomParserClientList : public TThreadPtrUIntObjectHashList<TCustomParserClient> {
 public:
  std::string ClassName() const override { return "TCustomParserClientList"; }

  // The client for rec.DataSourceId (skipping inactive ones when `activeOnly`). Missing one:
  // the first placeholder in visiting order is taken over (InitFromRecord and re-keyed; it stays
  // a placeholder only for id 0) unless rec's name also marks a placeholder, in which case it
  // is returned unchanged; without a placeholder, `factory` makes a new client, which is added,
  // or nullptr is returned without a factory. The result stays valid while the caller holds
  // the read lock. A factory failure leaves the list unchanged and propagates.
  TCustomParserClient* FindOrCreate(const TPluginCallRec& rec, TkivPlugin* plugin, bool activeOnly,
                                    TParserClientFactory factory);

  // Marks every client idle for `limitMs` inactive and, with `remove`, removes and frees it
  // (freed after the locks are released). Returns the number of idle clients found.
  int RemoveIdle(uint32_t limitMs, bool remove);

  // Clients that are placeholders, under the read lock.
  int32_t PlaceholderCount();

 private:
  struct Match;
  Match Search(const List& list, int32_t dataSourceId, bool activeOnly) const;
  // Puts `client` under `key` in `list` (write lock held), freeing the client it replaces, and
  // keeps the placeholder count.
  void Put(List& list, uintptr_t key, std::unique_ptr<TCustomParserClient> client);
  void Put(List& list, uintptr_t key, TCustomParserClient* client);

  // Guarded by the list's lock: the clients whose FPlaceholder is set.
  int32_t placeholders_ = 0;
};

}  // namespace kiv
