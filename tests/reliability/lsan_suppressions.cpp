// libgcrypt keeps process-wide state (its random pool, secure memory pools)
// for the life of the process and never frees it; LeakSanitizer would report
// it at every exit of a program that used it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libgcrypt.so\n";
}
