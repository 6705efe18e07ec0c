#include "plugin/blocks.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "transmit/run.h"

namespace sv::blocks {
namespace {

// A pointer, so it is valid before static initialisers run: the load hook
// may come first.
std::vector<TUserData*>* g_live = nullptr;

std::vector<TUserData*>& live() {
  if (!g_live) g_live = new std::vector<TUserData*>();
  return *g_live;
}

void free_block(TUserData* data) {
  std::unique_ptr<TUserData> owned(data);
  run_end(*data);
}

}  // namespace

TUserData* create() {
  auto data = std::make_unique<TUserData>();
  live().push_back(data.get());
  return data.release();
}

void dispose(TUserData* data) {
  auto& list = live();
  auto it = std::find(list.begin(), list.end(), data);
  if (it == list.end()) return;
  list.erase(it);
  free_block(data);
}

void dispose_all() {
  if (!g_live) return;
  std::vector<TUserData*> left;
  left.swap(*g_live);
  delete g_live;
  g_live = nullptr;
  for (TUserData* data : left) free_block(data);
}

}  // namespace sv::blocks
