// The device listing behind PDLNK_FindFirst / FindNext / FindClose: each
// listing is a clsFindHID whose address the caller's record carries. The
// searches alive are kept in a set, so a record whose search has ended
// (closed, or failed, in a copy of the record) is refused instead of
// followed.
#include <cstring>
#include <mutex>
#include <new>
#include <set>

#include "cls_find_hid.h"
#include "hid_search.h"
#include "pdlnk_result.h"

namespace q7m {

namespace {

std::mutex gSearchesLock;

std::set<const clsFindHID*>& Searches() {
  // Never destroyed: a search may still be closed while the process ends.
  static auto* searches = new std::set<const clsFindHID*>();
  return *searches;
}

// Caller holds gSearchesLock.
clsFindHID* LiveSearch(const PDLNK_FIND_INFO* info) {
  auto* search = static_cast<clsFindHID*>(info->searchHandle);
  return Searches().count(search) != 0 ? search : nullptr;
}

// Caller holds gSearchesLock.
void EndSearch(PDLNK_FIND_INFO* info, clsFindHID* search) {
  Searches().erase(search);
  delete search;
  info->searchHandle = nullptr;
}

}  // namespace

uint32_t HidFindFirst(PDLNK_FIND_INFO* info, const void* module) {
  std::memset(info, 0, sizeof *info);
  clsFindHID* search = new (std::nothrow) clsFindHID(true);
  if (search == nullptr) return SystemError(Q7M_ERROR_OUTOFMEMORY);
  uint32_t r = search->Create();
  if (r == kPdOk) {
    search->SetFilter(nullptr, module);
    r = search->FindFirst(info);
  }
  if (r != kPdOk) {
    LastErrorKeeper keep;
    delete search;
    return r;
  }
  info->recordSize = sizeof *info;
  info->searchHandle = search;
  std::lock_guard<std::mutex> guard(gSearchesLock);
  Searches().insert(search);
  return kPdOk;
}

uint32_t HidFindNext(PDLNK_FIND_INFO* info) {
  // One listing step at a time: a close from another thread waits for it.
  std::lock_guard<std::mutex> guard(gSearchesLock);
  clsFindHID* search = LiveSearch(info);
  if (search == nullptr) {
    info->searchHandle = nullptr;
    return kPdInvalidHandle;
  }
  const uint32_t r = search->FindNext(info);
  if (r != kPdOk) {
    LastErrorKeeper keep;
    EndSearch(info, search);
  }
  return r;
}

void HidFindClose(PDLNK_FIND_INFO* info) {
  std::lock_guard<std::mutex> guard(gSearchesLock);
  if (clsFindHID* search = LiveSearch(info)) EndSearch(info, search);
  info->searchHandle = nullptr;
}

}  // namespace q7m
