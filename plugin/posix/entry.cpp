// Load and unload hooks of the shared object.
#include "plugin/boundary.h"
#include "plugin/startup.h"

namespace {

__attribute__((constructor)) void on_load() {
  try {
    sv::library_startup();
  } catch (...) {
    // dlopen cannot fail from here; the library stays loaded but unusable
    // and GetLastFailureDLL tells the host why.
    sv::boundary::record_startup_failure();
  }
}

__attribute__((destructor)) void on_unload() {
  try {
    sv::library_shutdown();
  } catch (...) {}
  sv::boundary::release_thread_record();
}

}  // namespace
