#include "plugin/boundary.h"

#include <cstring>
#include <new>

#include "base/errors.h"
#include "base/text.h"
#include "platform/codepage.h"
#include "plugin/failure.h"

namespace sv::boundary {
namespace {

struct Record {
  bool failed = false;
  std::string text;
};

// Made on first use and never destroyed by the runtime: a thread_local with
// a destructor makes the runtime hold the module loaded for as long as the
// thread lives, so the host's unload would neither unload the library nor
// run its shutdown. The unload frees the unloading thread's record; any
// other thread that ends leaves at most its one failure text behind.
alignas(Record) thread_local unsigned char t_record_storage[sizeof(Record)];
thread_local bool t_record_made = false;

Record& thread_record() {
  if (!t_record_made) {
    new (t_record_storage) Record();  // no allocation: cannot fail
    t_record_made = true;
  }
  return *std::launder(reinterpret_cast<Record*>(t_record_storage));
}
void (*g_next_call_work)() = nullptr;
bool g_startup_failed = false;
// A pointer, so it is initialised before any load hook runs: the shared
// object's constructor may run before this unit's dynamic initialisers.
const std::u16string* g_startup_text = nullptr;

// The record's flag, kept in step with the count of failed records.
void set_failed(Record& r, bool failed) {
  if (r.failed == failed) return;
  r.failed = failed;
  if (failed) detail::g_attention.fetch_add(1, std::memory_order_relaxed);
  else detail::g_attention.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

namespace detail {
std::atomic<std::uint32_t> g_attention{0};
}  // namespace detail

void release_thread_record() {
  if (!t_record_made) return;
  Record& r = *std::launder(reinterpret_cast<Record*>(t_record_storage));
  set_failed(r, false);
  r.~Record();
  t_record_made = false;
}

void clear() {
  if (!t_record_made) return;  // nothing recorded on this thread yet
  Record& r = *std::launder(reinterpret_cast<Record*>(t_record_storage));
  set_failed(r, false);
  r.text.clear();
}

void at_next_call(void (*work)()) {
  g_next_call_work = work;
  detail::g_attention.fetch_or(detail::kWorkAtNextCall, std::memory_order_relaxed);
}

void attend() {
  clear();
  if (void (*work)() = g_next_call_work) {
    g_next_call_work = nullptr;
    detail::g_attention.fetch_and(~detail::kWorkAtNextCall, std::memory_order_relaxed);
    work();
  }
  if (startup_failed()) throw_startup_failure();
}

void record(std::u16string_view message) {
  set_failed(thread_record(), true);
  try {
    thread_record().text = platform::to_failure_text(message);
  } catch (...) {
    thread_record().text.clear();  // out of memory: keep at least the flag
  }
}

void record_current_exception() {
  try {
    throw;
  } catch (const Error& e) {
    record(e.message());
  } catch (const std::bad_alloc&) {
    record(OutOfMemory().message());
  } catch (const std::exception& e) {
    record(u16(e.what()));
  } catch (...) {
    record(u"Unbekannter Fehler");
  }
}

void record_startup_failure() {
  try {
    throw;
  } catch (const Error& e) {
    g_startup_text = new std::u16string(e.message());
  } catch (...) {
    g_startup_text = new std::u16string(u"Die Bibliothek konnte nicht gestartet werden");
  }
  g_startup_failed = true;
  detail::g_attention.fetch_or(detail::kStartupFailed, std::memory_order_relaxed);
  record(*g_startup_text);
}

bool startup_failed() { return g_startup_failed; }

void throw_startup_failure() { throw Error(*g_startup_text); }

std::int32_t copy_last(char* buffer, std::int32_t size) {
  if (!thread_record().failed && g_startup_failed) record(*g_startup_text);
  if (!thread_record().failed) {
    if (buffer && size > 0) buffer[0] = '\0';
    return 0;
  }
  const std::string& text = thread_record().text;
  if (buffer && size > 0) {
    std::size_t n = text.size() < static_cast<std::size_t>(size - 1) ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
  }
  // A recorded failure always reports a length above 0.
  return text.empty() ? 1 : static_cast<std::int32_t>(text.size());
}

void deliver() {
  platform::deliver_failure(thread_record().text.data(), thread_record().text.size());
}

}  // namespace sv::boundary
