// Qt's libraries are not built with ThreadSanitizer, so the locks inside
// them are invisible to it: memory that Qt hands from one of its threads to
// another (its thread pool's tasks) is reported as a race that is none.
// Only those Qt-internal hand-overs are suppressed; the window's own hand-over
// between the worker and the UI thread goes through a std::mutex, which stays
// checked, and the core's threads are checked without Qt in rigtool_call_tests.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_suppressions() {
  // The image code of Qt's GUI library splits its work across the pool:
  // what it allocates and frees there is ignored, not what calls it.
  return "race:QThreadPoolPrivate\n"
         "race:QThreadPoolThread\n"
         "called_from_lib:libQt6Gui.so.6\n";
}

// The font configuration library that Qt loads keeps caches for the life of
// the process and never frees them.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so.1\n";
}
