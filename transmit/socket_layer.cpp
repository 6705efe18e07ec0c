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

}  // namespace

void init() {
  if (!g_unit.begin_init()) return;
  g_lock = new (g_lock_storage) platform::Lock();
}

void fini() {
  if (!g_unit.begin_fini()) return;
  if (g_started) {
    net::api().stop();
    g_started = false;
  }
  if (g_lock) {
    g_lock->~Lock();
    g_lock = nullptr;
  }
}

void acquire() {
  platform::LockGuard guard(lock());
  // Started once per load; a failed start is tried again by the next create.
  if (!g_started) {
    // The start loads the system's socket providers, which may load a
    // control word of their own; a run start converts its first frame right
    // after this, under the caller's.
    const x87::Settled caller = x87::drop_pending();
    int code = net::api().start();
    x87::restore(caller);
    if (code != 0) throw SocketLayerStartFailed(code, platform::system_error_text(code));
    g_started = true;
  }
  ++g_live;
}

void release() {
  platform::LockGuard guard(lock());
  if (g_live > 0) --g_live;
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
