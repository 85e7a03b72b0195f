// What the platform's kernel objects cost next to the raw Linux facilities
// they are built on, measured in one run so the ratios hold:
//  - uncontended named-mutex wait+release vs a raw robust pthread mutex;
//  - creating/opening and closing a named object vs opening and closing a
//    file in /dev/shm;
//  - event signal-to-wake round trips between threads and between
//    processes vs raw eventfd / pipe ping-pong.
// A helper process (this program started again with --echo) answers the
// cross-process round trips and holds a named object open.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "q7m/platform_sys.h"
#include "support/floor_report.h"

extern char** environ;

namespace {

constexpr const char kPing[] = "bench ping";
constexpr const char kPong[] = "bench pong";
constexpr const char kHeld[] = "bench held";
// Descriptors of the raw pipe ping-pong in the helper process.
constexpr int kEchoIn = 3;
constexpr int kEchoOut = 4;

pid_t gHelper = -1;
int gPipeToHelper = -1;
int gPipeFromHelper = -1;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "bench_platform: %s failed (last error %u, errno %d)\n", what,
                 Q7M_GetLastError(), errno);
    std::exit(1);
  }
}

// ---- the helper process ----

int RunHelper() {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  Q7M_HANDLE held = Q7M_CreateMutex(0, kHeld);
  Q7M_HANDLE ping = Q7M_OpenEvent(kPing);
  Q7M_HANDLE pong = Q7M_OpenEvent(kPong);
  if (!held || !ping || !pong) return 2;
  std::thread events([&] {
    for (;;) {
      if (Q7M_WaitForSingleObject(ping, Q7M_INFINITE) != Q7M_WAIT_OBJECT_0) return;
      Q7M_SetEvent(pong);
    }
  });
  events.detach();
  char byte;
  if (write(kEchoOut, "r", 1) != 1) return 3;  // ready
  while (read(kEchoIn, &byte, 1) == 1) {
    if (write(kEchoOut, &byte, 1) != 1) break;
  }
  _exit(0);
}

void StartHelper() {
  int toHelper[2], fromHelper[2];
  Check(pipe2(toHelper, O_CLOEXEC) == 0 && pipe2(fromHelper, O_CLOEXEC) == 0, "pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toHelper[0], kEchoIn);
  posix_spawn_file_actions_adddup2(&actions, fromHelper[1], kEchoOut);
  char self[] = "/proc/self/exe";
  char echo[] = "--echo";
  char* argv[] = {self, echo, nullptr};
  Check(posix_spawn(&gHelper, self, &actions, nullptr, argv, environ) == 0, "spawn helper");
  posix_spawn_file_actions_destroy(&actions);
  close(toHelper[0]);
  close(fromHelper[1]);
  gPipeToHelper = toHelper[1];
  gPipeFromHelper = fromHelper[0];
  char ready;
  Check(read(gPipeFromHelper, &ready, 1) == 1, "helper start");
}

void StopHelper() {
  close(gPipeToHelper);
  close(gPipeFromHelper);
  kill(gHelper, SIGKILL);
  waitpid(gHelper, nullptr, 0);
}

// ---- mutexes ----

void NamedMutexWaitRelease(benchmark::State& state) {
  Q7M_HANDLE m = Q7M_CreateMutex(0, "bench mutex");
  Check(m != nullptr, "CreateMutex");
  for (auto _ : state) {
    Q7M_WaitForSingleObject(m, Q7M_INFINITE);
    Q7M_ReleaseMutex(m);
  }
  Q7M_CloseHandle(m);
}
BENCHMARK(NamedMutexWaitRelease);

void RawRobustMutexLockUnlock(benchmark::State& state) {
  void* map = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  auto* mutex = static_cast<pthread_mutex_t*>(map);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutex_init(mutex, &attr);
  for (auto _ : state) {
    pthread_mutex_lock(mutex);
    pthread_mutex_unlock(mutex);
  }
  pthread_mutex_destroy(mutex);
  munmap(map, 4096);
}
BENCHMARK(RawRobustMutexLockUnlock);

// ---- opening and closing named objects ----

// A new object every time (nobody else holds it), under a name this process
// used before: the file it kept is locked, checked and initialised again.
void NamedMutexCreateClose(benchmark::State& state) {
  for (auto _ : state) Q7M_CloseHandle(Q7M_CreateMutex(0, "bench fresh"));
}
BENCHMARK(NamedMutexCreateClose);

// A name this process has not used (lately) every time: the file is
// created, sized, mapped and initialised, and closing it lets an older kept
// one go (locked, removed, unmapped, closed).
void NamedMutexCreateCloseNewName(benchmark::State& state) {
  char name[32];
  unsigned n = 0;
  for (auto _ : state) {
    std::snprintf(name, sizeof name, "bench new %u", n++ % 1000);
    Q7M_CloseHandle(Q7M_CreateMutex(0, name));
  }
}
BENCHMARK(NamedMutexCreateCloseNewName);

// Held by the helper process: lock the file kept from the last round, check
// it, close.
void NamedMutexOpenClose(benchmark::State& state) {
  for (auto _ : state) {
    Q7M_HANDLE h = Q7M_OpenMutex(kHeld);
    Check(h != nullptr, "OpenMutex");
    Q7M_CloseHandle(h);
  }
}
BENCHMARK(NamedMutexOpenClose);

void RawShmFileCreateUnlinkClose(benchmark::State& state) {
  for (auto _ : state) {
    int fd = open("/dev/shm/q7m-bench-raw", O_RDWR | O_CREAT | O_CLOEXEC, 0660);
    unlink("/dev/shm/q7m-bench-raw");
    close(fd);
  }
}
BENCHMARK(RawShmFileCreateUnlinkClose);

void RawShmFileOpenClose(benchmark::State& state) {
  int keep = open("/dev/shm/q7m-bench-raw", O_RDWR | O_CREAT | O_CLOEXEC, 0660);
  for (auto _ : state) close(open("/dev/shm/q7m-bench-raw", O_RDWR | O_CLOEXEC));
  close(keep);
  unlink("/dev/shm/q7m-bench-raw");
}
BENCHMARK(RawShmFileOpenClose);

// ---- signal-to-wake round trips ----

// Two automatic-reset events between two threads; one iteration is one
// round trip (two signal-to-wake hops).
void EventPingPongThreads(benchmark::State& state) {
  Q7M_HANDLE ping = Q7M_CreateEvent(0, 0, nullptr);
  Q7M_HANDLE pong = Q7M_CreateEvent(0, 0, nullptr);
  Q7M_HANDLE stop = Q7M_CreateEvent(1, 0, nullptr);
  std::thread echo([&] {
    Q7M_HANDLE both[] = {stop, ping};
    while (Q7M_WaitForMultipleObjects(2, both, 0, Q7M_INFINITE) == Q7M_WAIT_OBJECT_0 + 1)
      Q7M_SetEvent(pong);
  });
  for (auto _ : state) {
    Q7M_SetEvent(ping);
    Q7M_WaitForSingleObject(pong, Q7M_INFINITE);
  }
  Q7M_SetEvent(stop);
  echo.join();
  Q7M_CloseHandle(ping);
  Q7M_CloseHandle(pong);
  Q7M_CloseHandle(stop);
}
BENCHMARK(EventPingPongThreads)->UseRealTime();

void RawEventfdPingPongThreads(benchmark::State& state) {
  int ping = eventfd(0, EFD_CLOEXEC);
  int pong = eventfd(0, EFD_CLOEXEC);
  std::thread echo([&] {
    uint64_t v;
    while (read(ping, &v, sizeof v) == sizeof v && v == 1) {
      if (write(pong, &v, sizeof v) != sizeof v) break;
    }
  });
  uint64_t one = 1, v;
  for (auto _ : state) {
    benchmark::DoNotOptimize(write(ping, &one, sizeof one));
    benchmark::DoNotOptimize(read(pong, &v, sizeof v));
  }
  uint64_t quit = 2;
  benchmark::DoNotOptimize(write(ping, &quit, sizeof quit));
  echo.join();
  close(ping);
  close(pong);
}
BENCHMARK(RawEventfdPingPongThreads)->UseRealTime();

// Named automatic-reset events answered by the helper process.
void EventPingPongProcesses(benchmark::State& state) {
  Q7M_HANDLE ping = Q7M_OpenEvent(kPing);
  Q7M_HANDLE pong = Q7M_OpenEvent(kPong);
  Check(ping && pong, "OpenEvent");
  for (auto _ : state) {
    Q7M_SetEvent(ping);
    Q7M_WaitForSingleObject(pong, Q7M_INFINITE);
  }
  Q7M_CloseHandle(ping);
  Q7M_CloseHandle(pong);
}
BENCHMARK(EventPingPongProcesses)->UseRealTime();

void RawPipePingPongProcesses(benchmark::State& state) {
  char byte = 'x';
  for (auto _ : state) {
    benchmark::DoNotOptimize(write(gPipeToHelper, &byte, 1));
    benchmark::DoNotOptimize(read(gPipeFromHelper, &byte, 1));
  }
}
BENCHMARK(RawPipePingPongProcesses)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--echo") == 0) return RunHelper();

  // A namespace of our own on the same file system as the default one.
  char dir[] = "/dev/shm/q7m-bench.XXXXXX";
  Check(mkdtemp(dir) != nullptr, "mkdtemp");
  setenv("Q7M_OBJECT_DIR", dir, 1);
  Q7M_HANDLE ping = Q7M_CreateEvent(0, 0, kPing);
  Q7M_HANDLE pong = Q7M_CreateEvent(0, 0, kPong);
  Check(ping && pong, "CreateEvent");
  StartHelper();

  benchmark::Initialize(&argc, argv);
  using q7mbench::Clock;
  using q7mbench::Compare;
  q7mbench::RunWithFloors({
      {"NamedMutexCreateClose", "RawShmFileCreateUnlinkClose", Clock::kReal, Compare::kRatio, 2},
      {"NamedMutexOpenClose", "RawShmFileOpenClose", Clock::kReal, Compare::kRatio, 3},
      {"NamedMutexCreateCloseNewName", "RawShmFileCreateUnlinkClose", Clock::kReal, Compare::kRatio,
       2},
      {"NamedMutexWaitRelease", "RawRobustMutexLockUnlock", Clock::kReal, Compare::kRatioShown, 0},
      {"EventPingPongThreads/real_time", "RawEventfdPingPongThreads/real_time", Clock::kReal,
       Compare::kRatioShown, 0},
      {"EventPingPongProcesses/real_time", "RawPipePingPongProcesses/real_time", Clock::kReal,
       Compare::kRatioShown, 0},
  });
  benchmark::Shutdown();

  StopHelper();
  Q7M_CloseHandle(ping);
  Q7M_CloseHandle(pong);
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return 0;
}
