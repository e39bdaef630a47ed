// A module for the loader tests. Its state lives in plain statics, so a fresh
// load after a real unload starts counting from zero again.
#if defined(_WIN32)
#define QWTEST_EXPORT extern "C" __declspec(dllexport)
#else
#define QWTEST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

static int bumps = 0;

// Which copy this is: 1 beside the executable, 2 and 3 in the subfolder.
QWTEST_EXPORT int QwTestVariant(void) {
  return QWTEST_VARIANT;
}

// Counts calls since this copy was loaded.
QWTEST_EXPORT int QwTestBump(void) {
  return ++bumps;
}
