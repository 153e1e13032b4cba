// What the log keeps of the speech program's standard error: each read cut and escaped, identical
// reads as a count, at most so many reads a second with a count of the rest, and the model failure
// always seen.
#include <gtest/gtest.h>

#include "TestRuntime.h"
#include "engine/ColiChannel.h"
#include "engine/ColiCommand.h"
#include "engine/SpeechProcess.h"

using namespace vocalynx;
using namespace vocalynx::test;

namespace {

struct Read {
    QByteArray bytes;
    double after = 0;  // seconds of virtual time before this read
};

struct StderrCase {
    const char* name;
    std::vector<Read> reads;
    QStringList logged;  // the standard-error lines, without their prefix, once a second has passed
    int modelAlerts = 0;
};

void PrintTo(const StderrCase& c, std::ostream* out) { *out << c.name; }

std::vector<Read> distinct(int count, const char* stem = "line ") {
    std::vector<Read> out;
    for (int i = 0; i < count; ++i) out.push_back({stem + QByteArray::number(i)});
    return out;
}

QStringList distinctLogged(int count) {
    QStringList out;
    for (int i = 0; i < count; ++i) out << QStringLiteral("line ") + QString::number(i);
    return out;
}

std::vector<Read> operator+(std::vector<Read> a, const std::vector<Read>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const QString capNote = QStringLiteral("more than %1 a second").arg(SpeechProcess::maxStderrLinesPerSecond);
const int cap = SpeechProcess::maxStderrLinesPerSecond;

class SpeechProcessStderr : public ::testing::TestWithParam<StderrCase> {};

TEST_P(SpeechProcessStderr, LogsWithinBounds) {
    const StderrCase& c = GetParam();
    TestRuntime rt;
    ColiChannel channel;
    ColiLocator locator{rt.paths().home, {}, {}, nullptr};
    int alerts = 0;
    SpeechProcess process{rt, channel, locator, nullptr, {[&] { ++alerts; }, [] { return false; }, {}, {}, {}}};
    for (const Read& read : c.reads) {
        if (read.after > 0) rt.time.advance(read.after);
        process.handleColiStderr(read.bytes);
    }
    rt.time.advance(1.5);
    QStringList logged;
    for (const QString& line : rt.log.lines())
        if (line.startsWith(QStringLiteral("[Vocalynx] coli stderr: "))) logged << line.mid(24);
    EXPECT_EQ(logged, c.logged);
    EXPECT_EQ(alerts, c.modelAlerts);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpeechProcessStderr,
    ::testing::Values(
        StderrCase{"control_characters_escaped_and_long_reads_cut",
                   {{"a\nforged line"}, {"\x1b[31mred"}, {QByteArray(5000, 'x')}},
                   {QStringLiteral("a\\nforged line"), QStringLiteral("\\u001b[31mred"),
                    QString(200, u'x') + QStringLiteral("…(5000 chars)")}},
        StderrCase{"identical_reads_counted_once_a_second_has_passed",
                   {{"same"}, {"same"}, {"same"}, {"same"}},
                   {QStringLiteral("same"), QStringLiteral("(the message before repeated: 3 more reads)")}},
        StderrCase{"a_different_read_logs_the_count_first",
                   {{"same"}, {"same"}, {"other"}, {"same"}},
                   {QStringLiteral("same"), QStringLiteral("(the message before repeated: 1 more reads)"),
                    QStringLiteral("other"), QStringLiteral("same")}},
        StderrCase{"past_the_cap_counted_and_the_next_second_logs_again",
                   distinct(cap + 3) + std::vector<Read>{{"later", 1.0}},
                   distinctLogged(cap) + QStringList{QStringLiteral("(3 more reads, %1 bytes, not logged: %2)")
                                                         .arg(3 * 7)
                                                         .arg(capNote),
                                                     QStringLiteral("later")}},
        StderrCase{"the_model_failure_logged_past_the_cap",
                   distinct(cap) + std::vector<Read>{{"Load model from /x/model.int8.onnx failed"}},
                   distinctLogged(cap) + QStringList{QStringLiteral("Load model from /x/model.int8.onnx failed")}, 1},
        StderrCase{"the_model_failure_at_the_end_of_a_long_read_shown",
                   {{QByteArray(3000, 'w') + "\nLoad model from /x failed\n"}},
                   {QStringLiteral("…Load model from /x failed")}, 1},
        StderrCase{"the_model_failure_seen_in_a_repeated_read",
                   {{"Load model from /x failed"}, {"Load model from /x failed"}},
                   {QStringLiteral("Load model from /x failed"),
                    QStringLiteral("(the message before repeated: 1 more reads)")}, 2}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
