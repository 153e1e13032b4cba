// Built into every test program, and into the program itself in the sanitizer trees (the
// integration tests launch it): what the sanitizers are told to leave alone. Only system libraries
// are named here; our own code is never suppressed.

extern "C" {

// Fontconfig keeps the font patterns it builds for the life of the process.
const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

// Qt paints large images on its own worker pool and hands work to it with locks inside its
// uninstrumented libraries, so the thread sanitizer would see the pool free what the painting
// thread allocated with no synchronisation between them. Allocations made inside Qt's libraries
// are therefore not tracked; every access our own code makes still is. GLib's event loop (Qt's
// event dispatcher) makes its wake-up descriptor on the thread that owns the loop, and other
// threads write to it once Qt has handed the loop over with its own locks, which the sanitizer does
// not see: a race report inside GLib is left out. (Its calls stay tracked: a write to that
// descriptor and the loop's read of it are what order a task posted to a loop before its run.)
// Qt D-Bus opens a bus connection on its own thread, where libdbus allocates the connection and
// its locks, and hands it to the asking thread under Qt's locks; that thread's first use of it
// then locks a libdbus mutex the sanitizer never saw handed over: a race report inside libdbus is
// left out too (the memory is libdbus's own; our code only reaches it through Qt D-Bus), and so is
// the order in which libdbus takes two of its own locks when Qt D-Bus's thread closes a connection.
// Qt Multimedia frees device descriptions and names whose last reference it drops with atomics the
// sanitizer does not see (our copies' references are counted in Qt's inline code, which it does):
// its allocations are not tracked either. PulseAudio's client library, under Qt Multimedia's sound
// streams, hands its packets, shared-memory ring buffers, descriptors and pooled blocks between its
// own threads with lock-free queues and atomics the sanitizer does not see, and locks its own
// mutexes in ways it cannot follow: a race or mutex report inside libpulse is left out (its threads
// run only its own and Qt Multimedia's code; ours reach it through Qt Multimedia, and the default
// source is asked on a main loop of our own thread).
const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so\n"
           "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Multimedia.so\n"
           "race:libglib-2.0.so\n"
           "race:libdbus-1.so\n"
           "deadlock:libdbus-1.so\n"
           "race:libpulsecommon-\n"
           "race:libpulse.so\n"
           "mutex:libpulse.so\n";
}

}
