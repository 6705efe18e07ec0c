#include "plugin/blocks.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/errors.h"
#include "transmit/run.h"

namespace sv::blocks {
namespace {

struct Block {
  TUserData* data;
  DialogScope* dialog = nullptr;  // while its parameter dialog is open
};

// A pointer, so it is valid before static initialisers run: the load hook
// may come first.
std::vector<Block>* g_live = nullptr;

std::vector<Block>& live() {
  if (!g_live) g_live = new std::vector<Block>();
  return *g_live;
}

std::vector<Block>::iterator find(TUserData* data) {
  return std::find_if(live().begin(), live().end(), [&](const Block& b) { return b.data == data; });
}

void free_block(TUserData* data) {
  std::unique_ptr<TUserData> owned(data);
  run_end(*data);
}

}  // namespace

TUserData* create() {
  auto data = std::make_unique<TUserData>();
  live().push_back({data.get()});
  return data.release();
}

void dispose(TUserData* data) {
  auto it = find(data);
  if (it == live().end()) return;
  DialogScope* dialog = it->dialog;
  live().erase(it);
  if (!dialog) {
    free_block(data);
    return;
  }
  dialog->disposed_ = true;
  run_end(*data);
}

void dispose_all() {
  if (!g_live) return;
  std::vector<Block> left;
  left.swap(*g_live);
  delete g_live;
  g_live = nullptr;
  for (const Block& b : left) free_block(b.data);
}

DialogScope::DialogScope(TUserData* data) : data_(data) {
  auto it = find(data);
  if (it == live().end()) return;
  if (it->dialog) throw Error(u"Der Parameterdialog dieses Blocks ist bereits geöffnet.");
  it->dialog = this;
}

DialogScope::~DialogScope() {
  if (disposed_) {
    delete data_;
    return;
  }
  auto it = find(data_);
  if (it != live().end() && it->dialog == this) it->dialog = nullptr;
}

}  // namespace sv::blocks
