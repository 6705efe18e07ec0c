#include "transmit/socket_layer.h"

#include <new>

#include "base/errors.h"
#include "base/unit_counter.h"
#include "base/x87.h"
#include "platform/lock.h"
#include "platform/net.h"
#include "platform/system_error.h"

namespace sv::socket_layer {
namespace {

UnitCounter g_unit;
// Constructed in place at init so its lifetime is the library's, not that of
// static initialisation order.
alignas(platform::Lock) unsigned char g_lock_storage[sizeof(platform::Lock)];
platform::Lock* g_lock = nullptr;
int g_live = 0;
bool g_started = false;

platform::Lock& lock() {
  if (!g_lock) init();  // a sender used before start-up still gets a lock
  return *g_lock;
}

// The start and the stop load and unload the system's socket providers,
// which may load a control word of their own: the caller's is put back.
int start_platform() {
  const x87::Settled caller = x87::drop_pending();
  const int code = net::api().start();
  x87::restore(caller);
  if (code == 0) g_started = true;
  return code;
}

void stop_platform() {
  if (!g_started) return;
  const x87::Settled caller = x87::drop_pending();
  net::api().stop();
  x87::restore(caller);
  g_started = false;
}

}  // namespace

void init() {
  if (!g_unit.begin_init()) return;
  g_lock = new (g_lock_storage) platform::Lock();
}

void fini() {
  if (!g_unit.begin_fini()) return;
  stop_platform();
  if (g_lock) {
    g_lock->~Lock();
    g_lock = nullptr;
  }
}

// The platform library is started with the first live sender and stopped
// with the last, in the export that frees it: stopping it at the unload
// would run its cleanup under the loader lock, where Windows says it may
// deadlock. (An unload with a run still open frees that run's sender then,
// the only moment left.) A failed start is tried again by the next create.
void acquire() {
  platform::LockGuard guard(lock());
  if (!g_started) {
    // A run start converts its first frame right after this, under the
    // caller's word.
    const int code = start_platform();
    if (code != 0) throw SocketLayerStartFailed(code, platform::system_error_text(code));
  }
  ++g_live;
}

void release() {
  platform::LockGuard guard(lock());
  if (g_live > 0 && --g_live == 0) stop_platform();
}

int live_senders() {
  platform::LockGuard guard(lock());
  return g_live;
}

// The shared layer object lives exactly while a sender does.
bool layer_object_exists() { return live_senders() > 0; }

bool platform_started() {
  platform::LockGuard guard(lock());
  return g_started;
}

}  // namespace sv::socket_layer
