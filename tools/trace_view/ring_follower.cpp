#include "ring_follower.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ring_order.h"

namespace q7m::traceview {

using trace::kSequenceMask;

namespace {

// Half the sequence circle: a record up to this far ahead counts as newer.
constexpr uint32_t kHalfCircle = (kSequenceMask + 1) / 2;

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True while `path` still names the file that `file` has open.
bool StillTheSameFile(const RingFile& file, const std::string& path, int fd) {
  struct stat open, named;
  if (fd < 0 || fstat(fd, &open) != 0 || open.st_nlink == 0) return false;
  if (stat(path.c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino && file.IsOpen();
}

}  // namespace

bool SequenceAtOrAfter(uint32_t sequence, uint32_t reference) {
  return ((sequence - reference) & kSequenceMask) < kHalfCircle;
}

bool RingFollower::Show(const TraceRecord& record, FollowCursor* cursor) {
  if (filter_.Matches(record)) {
    std::string line = FormatRecord(record, style_);
    std::fwrite(line.data(), 1, line.size(), out_);
  }
  cursor->known = true;
  cursor->nextSlot = record.slot + 1;
  cursor->expectedSequence = (record.header.sequence + 1) & kSequenceMask;
  return true;
}

void RingFollower::Resync(FollowCursor* cursor) {
  const uint32_t expected = cursor->expectedSequence;
  bool first = true;
  RingOrder order = FindRingOrder(file_);
  ForEachRecord(file_, order, [&](const TraceRecord& record) {
    if (!SequenceAtOrAfter(record.header.sequence, expected)) return;
    if (first) {
      first = false;
      uint32_t lost = (record.header.sequence - expected) & kSequenceMask;
      if (lost > 0) {
        std::fprintf(out_, "-- %u record%s overwritten before %s could be shown --\n", lost,
                     lost == 1 ? "" : "s", lost == 1 ? "it" : "they");
      }
    }
    Show(record, cursor);
  });
}

void RingFollower::CatchUp(FollowCursor* cursor) {
  if (!file_.IsOpen()) return;
  const uint64_t size = file_.FileSize();
  if (size < lastSize_) {
    std::fprintf(err_, "q7m-trace: %s was cut short; starting over\n", file_.path().c_str());
    *cursor = FollowCursor{};
    if (!fixedLength_) lengthKnown_ = false;
  }
  lastSize_ = size;
  if (!lengthKnown_) {
    std::string unused;
    if (!file_.DetectLength(&unused)) return;  // no whole record yet
    lengthKnown_ = true;
  }

  TraceRecord record;
  for (;;) {
    if (file_.ReadRecord(cursor->nextSlot, &buffer_, &record)) {
      if (!cursor->known || record.header.sequence == cursor->expectedSequence) {
        Show(record, cursor);
        continue;
      }
      if (SequenceAtOrAfter(record.header.sequence, cursor->expectedSequence)) {
        Resync(cursor);  // the writer has lapped us
        break;
      }
    }
    // Not (yet) at the next slot: the writer may have wrapped to slot 0.
    if (cursor->known && cursor->nextSlot != 0 && file_.ReadRecord(0, &buffer_, &record)) {
      if (record.header.sequence == cursor->expectedSequence) {
        cursor->nextSlot = 0;
        continue;
      }
      if (SequenceAtOrAfter(record.header.sequence, cursor->expectedSequence)) {
        Resync(cursor);
        break;
      }
    }
    break;
  }
  std::fflush(out_);
}

bool RingFollower::Reopen(FollowCursor* cursor) {
  std::string error;
  if (!file_.Open(file_.path(), &error)) return false;
  *cursor = FollowCursor{};
  lastSize_ = 0;
  if (!fixedLength_) lengthKnown_ = false;
  return true;
}

int RingFollower::Run(FollowCursor cursor) {
  const std::string path = file_.path();
  const std::string name = NameOf(path);
  int fd = inotify_init1(IN_CLOEXEC);
  if (fd < 0) {
    std::fprintf(err_, "q7m-trace: cannot watch %s: %s\n", path.c_str(), std::strerror(errno));
    return 1;
  }
  constexpr uint32_t kFileEvents = IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
  // The directory is watched too, so a ring that is removed and written
  // anew is picked up again.
  int dirWatch = inotify_add_watch(fd, DirectoryOf(path).c_str(), IN_CREATE | IN_MOVED_TO);
  int fileWatch = inotify_add_watch(fd, path.c_str(), kFileEvents);
  if (dirWatch < 0 || fileWatch < 0) {
    std::fprintf(err_, "q7m-trace: cannot watch %s: %s\n", path.c_str(), std::strerror(errno));
    close(fd);
    return 1;
  }
  lastSize_ = file_.FileSize();
  CatchUp(&cursor);

  alignas(inotify_event) char events[16 * (sizeof(inotify_event) + 256)];
  for (;;) {
    ssize_t n = read(fd, events, sizeof events);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::fprintf(err_, "q7m-trace: watching %s failed: %s\n", path.c_str(), std::strerror(errno));
      close(fd);
      return 1;
    }
    bool identityChanged = false;
    for (char* p = events; p < events + n;) {
      auto* e = reinterpret_cast<inotify_event*>(p);
      if (e->wd == fileWatch && (e->mask & (IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
        identityChanged = true;
      }
      if (e->wd == dirWatch && e->len > 0 && name == e->name) identityChanged = true;
      p += sizeof(inotify_event) + e->len;
    }
    if (identityChanged && !StillTheSameFile(file_, path, file_.fd())) {
      CatchUp(&cursor);  // whatever the old file still had
      if (fileWatch >= 0) inotify_rm_watch(fd, fileWatch);
      fileWatch = -1;
      file_.Close();
      if (Reopen(&cursor)) {
        std::fprintf(err_, "q7m-trace: %s was replaced; following the new file\n", path.c_str());
        fileWatch = inotify_add_watch(fd, path.c_str(), kFileEvents);
      } else {
        std::fprintf(err_, "q7m-trace: %s was removed; waiting for it to come back\n",
                     path.c_str());
      }
      std::fflush(err_);
    }
    CatchUp(&cursor);
  }
}

}  // namespace q7m::traceview
