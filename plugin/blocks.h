// The blocks alive in the library. A host that disposes a block without
// ending its run, or unloads the library with blocks it never disposed,
// must not leave a socket or memory behind: the library keeps its own list.
#pragma once

#include "base/user_data.h"

namespace sv::blocks {

// A new block's parameter record with its defaults.
TUserData* create();
// Ends the block's run if the host forgot to, and frees the record. A
// record the library does not know (disposed already) is left alone.
void dispose(TUserData* data);
// At unload: every block the host never disposed.
void dispose_all();

// A block's parameter dialog, from its opening to its end. The modal loop
// dispatches the host's messages, from which the host may call the library
// again: a second dialog for the block is refused, and a dispose of the
// block ends its run and forgets it at once, as any dispose does, but its
// record lives until the dialog is gone, so that nothing is written into
// freed memory. Every other export acts as it would without the dialog.
class DialogScope {
 public:
  explicit DialogScope(TUserData* data);  // raises when the block's dialog is open
  ~DialogScope();                         // frees a record disposed meanwhile
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;

  // Turns true when the host disposes the block during the dialog.
  const bool& disposed() const { return disposed_; }

 private:
  friend void dispose(TUserData* data);
  TUserData* data_;
  bool disposed_ = false;
};

}  // namespace sv::blocks
