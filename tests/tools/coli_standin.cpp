// A stand-in for the speech program "coli asr-stream" that the tests start instead of the real
// recogniser. It honours the program's contract: it is started with any arguments and keeps
// running, reads raw signed 16-bit little-endian mono 16 kHz audio from standard input, writes one
// transcript per line on standard output (the whole current hypothesis each time), writes free
// text on standard error, needs no model argument, and exits on SIGTERM (and when its standard
// input ends).
//
// What it does is chosen by environment variables:
//   COLI_STANDIN_LOG=<file>          append one line per event: "start pid=<pid> ppid=<ppid>
//                                    args=<arguments joined by spaces>", "audio bytes=<total>"
//                                    (after each read), "line <text>" (each output line), "sigterm",
//                                    "eof", "exit code=<n>".
//   COLI_STANDIN_SCRIPT=<file>       hypotheses, one per line of the file, emitted in order as audio
//                                    arrives: the next one each time another COLI_STANDIN_BYTES_PER_LINE
//                                    bytes have been received. Each is written as {"text":"<line>"}
//                                    unless COLI_STANDIN_RAW=1, which writes the line unchanged.
//   COLI_STANDIN_BYTES_PER_LINE=<n>  audio bytes per scripted hypothesis (default 3200, 0.1 s).
//   COLI_STANDIN_FREQUENCY=1         report the dominant frequency of the audio received: after every
//                                    COLI_STANDIN_WINDOW_BYTES bytes (default 16000, 0.5 s) write
//                                    {"text":"<f> Hz","frequency":<f>,"samples":<total samples>}
//                                    where f is the strongest frequency of that window, in whole Hz.
//   COLI_STANDIN_STDERR=<text>       written to standard error once at start (for instance
//                                    "Load model from /x/model.onnx failed").
//   COLI_STANDIN_EXIT_AFTER_BYTES=<n> exit with code 3 once n audio bytes have been received
//                                    (0: right after start).
//   COLI_STANDIN_IGNORE_SIGTERM=1    keep running on SIGTERM (only SIGKILL ends it).
//   COLI_STANDIN_IGNORE_EOF=1        keep running when standard input ends (only a signal ends it).
//   COLI_STANDIN_COUNTER=<file>      count the starts in <file> (one byte appended per start); the n-th
//                                    start (from 1) uses the script COLI_STANDIN_SCRIPT_<n> when that
//                                    variable is set, so a relaunched program can say something else.
//   COLI_STANDIN_FINAL_ON_EOF=<text> at the end of standard input, write <text> as one more
//                                    hypothesis (as a recogniser finishes its last segment there).
//   COLI_STANDIN_FETCH_MODEL=<file>  fetch mode, as when the program downloads a missing model: if
//                                    <file> does not exist, print progress lines on standard error
//                                    (one write each: the lines of the file COLI_STANDIN_FETCH_LINES,
//                                    or built-in percentage lines and an "Extracting" line), then
//                                    create <file> and its folders, sparse, COLI_STANDIN_FETCH_SIZE
//                                    bytes long (default 200000000). Logged as "fetch <line>".
//
// Hostile modes, for the application's defences against a misbehaving program:
//   COLI_STANDIN_STOP_READING=<n>    stop reading standard input once n audio bytes have been read
//                                    (0: never read it), log "stopped reading", and wait for a signal.
//   COLI_STANDIN_STDERR_FLOOD=<n>    at start, write n lines to standard error as fast as the pipe
//                                    takes them: the line COLI_STANDIN_FLOOD_LINE (default
//                                    "warning: something happened") repeated, every 1000th one
//                                    numbered ("line <i>") so that not all are alike. Logged as
//                                    "flooded <n>" once done (before COLI_STANDIN_STDERR is written).

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

int logFd = -1;

void writeAll(int fd, const std::string& text) {
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
}

void logLine(const std::string& text) {
    if (logFd >= 0) writeAll(logFd, text + "\n");
}

extern "C" void onSigterm(int) {
    // Signal context: write(2) and _exit(2) only.
    static const char message[] = "sigterm\n";
    if (logFd >= 0) {
        ssize_t ignored = ::write(logFd, message, sizeof message - 1);
        (void)ignored;
    }
    ::_exit(0);
}

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

long envNumber(const char* name, long fallback) {
    const std::string value = env(name);
    if (value.empty()) return fallback;
    return std::strtol(value.c_str(), nullptr, 10);
}

std::string jsonEscape(const std::string& text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

void emit(const std::string& line) {
    logLine("line " + line);
    writeAll(STDOUT_FILENO, line + "\n");
}

// The frequency with the largest DFT magnitude in the window, refined between neighbouring bins.
int dominantFrequency(const std::vector<double>& samples, double rate) {
    const size_t n = samples.size();
    if (n < 16) return 0;
    std::vector<double> magnitude(n / 2 + 1, 0.0);
    size_t best = 1;
    for (size_t k = 1; k <= n / 2; ++k) {
        // Goertzel recurrence for bin k.
        const double w = 2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
        const double coeff = 2.0 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (double x : samples) {
            const double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        magnitude[k] = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (magnitude[k] > magnitude[best]) best = k;
    }
    double offset = 0;
    if (best > 1 && best < n / 2) {
        const double a = std::sqrt(magnitude[best - 1]), b = std::sqrt(magnitude[best]),
                     c = std::sqrt(magnitude[best + 1]);
        const double denominator = a - 2 * b + c;
        if (denominator != 0) offset = 0.5 * (a - c) / denominator;
    }
    return static_cast<int>(std::lround((static_cast<double>(best) + offset) * rate / static_cast<double>(n)));
}

// Fetch mode (see the top of the file).
void fetchModel(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) return;
    std::vector<std::string> lines{"Downloading model.tar.bz2  12.5%  30MB", "Downloading model.tar.bz2  100.0%  240MB",
                                   "Extracting model.tar.bz2"};
    if (const std::string path = env("COLI_STANDIN_FETCH_LINES"); !path.empty()) {
        lines.clear();
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    for (const std::string& line : lines) {
        logLine("fetch " + line);
        writeAll(STDERR_FILENO, line + "\n");
        ::usleep(20000);  // separate reads for the reader, like a real download's pace
    }
    for (size_t i = 1; i < file.size(); ++i)
        if (file[i] == '/') ::mkdir(file.substr(0, i).c_str(), 0755);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
        if (::ftruncate(fd, envNumber("COLI_STANDIN_FETCH_SIZE", 200000000)) != 0) logLine("fetch truncate failed");
        ::close(fd);
    }
}

// Hostile modes (see the top of the file).
void stderrFlood(long count) {
    std::string line = env("COLI_STANDIN_FLOOD_LINE");
    if (line.empty()) line = "warning: something happened";
    std::string batch;
    for (long i = 0; i < count; ++i) {
        batch += (i % 1000 == 999 ? "line " + std::to_string(i) : line) + "\n";
        if (batch.size() >= 4096) {
            writeAll(STDERR_FILENO, batch);
            batch.clear();
        }
    }
    writeAll(STDERR_FILENO, batch);
    logLine("flooded " + std::to_string(count));
}

[[noreturn]] void stopReading() {
    logLine("stopped reading");
    for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string logPath = env("COLI_STANDIN_LOG");
    if (!logPath.empty()) logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    // The handlers are in place before the start is logged, so a test that saw the start line
    // also sees how a SIGTERM ended the program.
    ::signal(SIGPIPE, SIG_IGN);
    if (env("COLI_STANDIN_IGNORE_SIGTERM") == "1")
        ::signal(SIGTERM, SIG_IGN);
    else
        ::signal(SIGTERM, onSigterm);
    std::string args;
    for (int i = 1; i < argc; ++i) args += (i > 1 ? " " : "") + std::string(argv[i]);
    logLine("start pid=" + std::to_string(::getpid()) + " ppid=" + std::to_string(::getppid()) + " args=" + args);

    if (const long flood = envNumber("COLI_STANDIN_STDERR_FLOOD", 0); flood > 0) stderrFlood(flood);
    const long stopReadingAfter = envNumber("COLI_STANDIN_STOP_READING", -1);

    const std::string stderrText = env("COLI_STANDIN_STDERR");
    if (!stderrText.empty()) writeAll(STDERR_FILENO, stderrText + "\n");
    if (const std::string model = env("COLI_STANDIN_FETCH_MODEL"); !model.empty()) fetchModel(model);
    if (stopReadingAfter == 0) stopReading();

    const long exitAfter = envNumber("COLI_STANDIN_EXIT_AFTER_BYTES", -1);
    if (exitAfter == 0) {
        logLine("exit code=3");
        return 3;
    }

    std::string scriptPath = env("COLI_STANDIN_SCRIPT");
    // ---- starts counted, a script per start, a last hypothesis at the end of input ----
    if (const std::string counter = env("COLI_STANDIN_COUNTER"); !counter.empty()) {
        const int fd = ::open(counter.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        struct stat st {};
        if (fd >= 0 && ::write(fd, "x", 1) == 1 && ::fstat(fd, &st) == 0) {
            const std::string numbered = env(("COLI_STANDIN_SCRIPT_" + std::to_string(st.st_size)).c_str());
            if (!numbered.empty()) scriptPath = numbered;
        }
        if (fd >= 0) ::close(fd);
    }
    const std::string finalOnEof = env("COLI_STANDIN_FINAL_ON_EOF");
    // ----
    std::vector<std::string> script;
    if (const std::string& path = scriptPath; !path.empty()) {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) script.push_back(line);
    }
    const bool raw = env("COLI_STANDIN_RAW") == "1";
    const long bytesPerLine = std::max(1L, envNumber("COLI_STANDIN_BYTES_PER_LINE", 3200));
    const bool frequencyMode = env("COLI_STANDIN_FREQUENCY") == "1";
    const long windowBytes = std::max(64L, envNumber("COLI_STANDIN_WINDOW_BYTES", 16000)) & ~1L;

    size_t scriptIndex = 0;
    long long total = 0;
    long long nextLineAt = bytesPerLine;
    std::vector<double> window;
    bool haveOddByte = false;
    unsigned char oddByte = 0;
    std::vector<unsigned char> buffer(8192);

    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) {
            logLine("eof");
            if (!finalOnEof.empty()) emit(env("COLI_STANDIN_RAW") == "1" ? finalOnEof
                                                                      : "{\"text\":\"" + jsonEscape(finalOnEof) + "\"}");
            break;
        }
        total += n;
        logLine("audio bytes=" + std::to_string(total));

        if (frequencyMode) {
            size_t i = 0;
            if (haveOddByte) {
                window.push_back(static_cast<int16_t>(oddByte | (buffer[0] << 8)) / 32768.0);
                haveOddByte = false;
                i = 1;
            }
            for (; i + 1 < static_cast<size_t>(n); i += 2)
                window.push_back(static_cast<int16_t>(buffer[i] | (buffer[i + 1] << 8)) / 32768.0);
            if (i < static_cast<size_t>(n)) {
                haveOddByte = true;
                oddByte = buffer[i];
            }
            while (window.size() >= static_cast<size_t>(windowBytes / 2)) {
                std::vector<double> chunk(window.begin(), window.begin() + windowBytes / 2);
                window.erase(window.begin(), window.begin() + windowBytes / 2);
                const int f = dominantFrequency(chunk, 16000.0);
                emit("{\"text\":\"" + std::to_string(f) + " Hz\",\"frequency\":" + std::to_string(f) +
                     ",\"samples\":" + std::to_string(total / 2) + "}");
            }
        }

        while (scriptIndex < script.size() && total >= nextLineAt) {
            const std::string& text = script[scriptIndex++];
            emit(raw ? text : "{\"text\":\"" + jsonEscape(text) + "\"}");
            nextLineAt += bytesPerLine;
        }

        if (stopReadingAfter > 0 && total >= stopReadingAfter) stopReading();
        if (exitAfter > 0 && total >= exitAfter) {
            logLine("exit code=3");
            return 3;
        }
    }
    if (env("COLI_STANDIN_IGNORE_EOF") == "1")
        for (;;) ::pause();
    logLine("exit code=0");
    return 0;
}
