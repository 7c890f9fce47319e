// A library with one known entry point, loaded at run time by the platform tests.
extern "C" int zrk_probe_answer() {
  return 42;
}
