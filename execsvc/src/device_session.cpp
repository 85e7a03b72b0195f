#include "device_session.h"

#include <condition_variable>
#include <mutex>
#include <new>
#include <unordered_set>

namespace q7m::sessions {

namespace {

// Constructed on first use and never destroyed: exports may run from other
// libraries' destructors after this library's static objects are gone.
struct Table {
  std::mutex lock;
  std::condition_variable released;
  std::unordered_set<DeviceSession*> open;
};

Table& TheTable() {
  static Table* table = new Table();
  return *table;
}

}  // namespace

bool Add(DeviceSession* session) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  try {
    t.open.insert(session);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

DeviceSession* Acquire(SEQUOR_HANDLE handle) {
  if (handle == nullptr) return nullptr;
  Table& t = TheTable();
  auto* session = reinterpret_cast<DeviceSession*>(handle);
  std::lock_guard<std::mutex> guard(t.lock);
  if (t.open.count(session) == 0 || session->closing) return nullptr;
  ++session->users;
  return session;
}

void AddUser(DeviceSession* session) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  ++session->users;
}

void Release(DeviceSession* session) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  if (--session->users == 0) t.released.notify_all();
}

DeviceSession* BeginClose(SEQUOR_HANDLE handle, bool* inUse) {
  Table& t = TheTable();
  auto* session = reinterpret_cast<DeviceSession*>(handle);
  std::lock_guard<std::mutex> guard(t.lock);
  if (t.open.count(session) == 0 || session->closing) return nullptr;
  session->closing = true;
  *inUse = session->users != 0;
  return session;
}

void WaitUnused(DeviceSession* session) {
  Table& t = TheTable();
  std::unique_lock<std::mutex> guard(t.lock);
  t.released.wait(guard, [session] { return session->users == 0; });
}

void AbortClose(DeviceSession* session) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  session->closing = false;
}

void Remove(DeviceSession* session) {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  t.open.erase(session);
}

DeviceSession* TakeIdle() {
  Table& t = TheTable();
  std::lock_guard<std::mutex> guard(t.lock);
  for (DeviceSession* session : t.open) {
    if (session->users == 0 && !session->closing) {
      t.open.erase(session);
      return session;
    }
  }
  return nullptr;
}

}  // namespace q7m::sessions
