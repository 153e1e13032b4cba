// Built into every unit-test program: what the sanitizers are told to leave alone. Only system
// libraries are named here; our own code is never suppressed.

extern "C" {

// Fontconfig keeps the font patterns it builds for the life of the process.
const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// Qt paints large images on its own worker pool and hands work to it with locks inside its
// uninstrumented libraries, so the thread sanitizer would see the pool free what the painting
// thread allocated with no synchronisation between them. Allocations made inside Qt's libraries
// are therefore not tracked; every access our own code makes still is.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n";
}

}
