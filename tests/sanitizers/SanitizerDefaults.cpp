// Defaults the sanitizer run-times read at start-up in every unit-test program. Settings given in
// ASAN_OPTIONS, LSAN_OPTIONS or TSAN_OPTIONS still take precedence.

extern "C" {

// Qt itself is not built with ThreadSanitizer: its thread pool (used by Qt Gui for image work
// while widgets paint) synchronises through code the run-time cannot see. Only accesses made from
// our own, instrumented code are checked.
const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }

// fontconfig keeps its cache and patterns, reached from Qt's font database, for the life of the
// process; they are not ours to free.
const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

}
