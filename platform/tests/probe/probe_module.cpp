// A tiny shared object for the module-loading tests. Built several times
// with a different Q7M_PROBE_ID, into different directories, so a test can
// tell which copy the loader picked.
extern "C" __attribute__((visibility("default"))) int q7m_probe_id() {
  return Q7M_PROBE_ID;
}
