// The crash-reporting set-up and its binding to the SDK's C functions, run against the recording
// stand-in: what the SDK would be started with, the scope it would carry and what the event filter
// leaves of an event.

#include <gtest/gtest.h>

#include "RecordingLogger.h"
#include "SentryStandIn.h"
#include "core/CrashReporting.h"
#include "platform/sentry/SentryNativeSDK.h"

using namespace vocalynx;
using vocalynx::test::RecordingLogger;
namespace standin = sentry_standin;

namespace {

const DeviceFacts kFacts{QStringLiteral("Debian GNU/Linux 12 (bookworm)"), 8, 17179869184ull};
const QString kDSN = QStringLiteral("https://key@sentry.example/42");

class CrashReportingTest : public ::testing::Test {
protected:
    void SetUp() override { standin::reset(); }
    void TearDown() override { EXPECT_EQ(standin::liveNodes(), 0) << "values leaked or freed twice"; }

    bool configure(QMap<QString, QString> info) {
        return CrashReporting::configure(InfoDictionary(std::move(info)), log, &sdk, kFacts);
    }
    static QMap<QString, QString> info(const QString& dsn) {
        return {{InfoDictionary::kShortVersion, QStringLiteral("1.2.3")},
                {InfoDictionary::kBuildNumber, QStringLiteral("45")},
                {InfoDictionary::kSentryDSN, dsn}};
    }

    RecordingLogger log;
    SentryNativeSDK sdk{QStringLiteral("/tmp/vocalynx-reports")};
};

TEST_F(CrashReportingTest, WithoutADataSourceNameTheSDKIsNeverStarted) {
    for (const char* dsn : {"", "   ", " \n\t\r "}) {
        SCOPED_TRACE(testing::PrintToString(dsn));
        log.clear();
        EXPECT_FALSE(configure(info(QString::fromUtf8(dsn))));
        EXPECT_EQ(log.lines(), QStringList{QStringLiteral("[Vocalynx] Sentry disabled: SentryDSN is empty")});
    }
    auto noKey = info(kDSN);
    noKey.remove(InfoDictionary::kSentryDSN);
    EXPECT_FALSE(configure(noKey));
    EXPECT_EQ(standin::recorded().initCalls, 0);
    EXPECT_TRUE(standin::recorded().tags.empty());

    // A build without the SDK stays off even with a data source name, and says why.
    log.clear();
    EXPECT_FALSE(CrashReporting::configure(InfoDictionary(info(kDSN)), log, nullptr, kFacts));
    EXPECT_EQ(log.lines(),
              QStringList{QStringLiteral("[Vocalynx] Sentry disabled: this build has no crash-reporting SDK")});
}

TEST_F(CrashReportingTest, StartsWithTheTrimmedNameEnvironmentAndReleaseName) {
    struct Case {
        const char* what;
        QMap<QString, QString> info;
        const char* environment;
        const char* release;
    };
    const Case cases[] = {
        {"everything given",
         {{InfoDictionary::kShortVersion, QStringLiteral("1.2.3")},
          {InfoDictionary::kBuildNumber, QStringLiteral("45")},
          {InfoDictionary::kSentryEnvironment, QStringLiteral(" production ")}},
         " production ", "Vocalynx@1.2.3+45"},
        {"no build number", {{InfoDictionary::kShortVersion, QStringLiteral("1.2.3")}}, "beta", "Vocalynx@1.2.3+0"},
        {"no version at all", {{InfoDictionary::kBuildNumber, QStringLiteral("45")}}, "beta", "Vocalynx@0+45"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standin::reset();
        auto values = c.info;
        values.insert(InfoDictionary::kSentryDSN, QStringLiteral("\n  ") + kDSN + QStringLiteral(" \t"));
        ASSERT_TRUE(configure(values));
        const auto& r = standin::recorded();
        EXPECT_EQ(r.initCalls, 1);
        EXPECT_EQ(r.options.dsn, kDSN.toStdString());
        EXPECT_EQ(r.options.environment, c.environment);
        EXPECT_EQ(r.options.release, c.release);
        EXPECT_EQ(r.options.autoSessionTracking, 1);
        EXPECT_EQ(r.options.appHangTracking, 1);
        EXPECT_EQ(r.options.appHangTimeoutMs, 5000u);
        EXPECT_EQ(r.options.databasePath, "/tmp/vocalynx-reports");
        EXPECT_NE(r.options.beforeSend, nullptr);
    }
}

TEST_F(CrashReportingTest, HangTrackingHearsHeartbeatsOnlyOnceStarted) {
    sdk.appHangHeartbeat();
    EXPECT_FALSE(sdk.tracksAppHangs());
    EXPECT_EQ(standin::recorded().appHangHeartbeats, 0) << "nothing reaches an SDK that was not started";
    ASSERT_TRUE(configure(info(kDSN)));
    EXPECT_TRUE(sdk.tracksAppHangs());
    sdk.appHangHeartbeat();
    sdk.appHangHeartbeat();
    EXPECT_EQ(standin::recorded().appHangHeartbeats, 2);
}

TEST_F(CrashReportingTest, ScopeCarriesPlatformTagsAndTheDeviceContext) {
    ASSERT_TRUE(configure(info(kDSN)));
    const auto& r = standin::recorded();
    EXPECT_EQ(r.tags, (std::map<std::string, std::string>{{"platform", "linux"},
                                                          {"macos.version", "Debian GNU/Linux 12 (bookworm)"}}));
    EXPECT_EQ(r.contexts, (std::map<std::string, std::string>{
                              {"device", R"({"physicalMemory":u64:17179869184,"processorCount":i32:8})"}}));
    EXPECT_TRUE(log.lines().isEmpty());

    const DeviceFacts here = DeviceFacts::current();
    EXPECT_GT(here.processorCount, 0);
    EXPECT_GT(here.physicalMemory, 0u);
    EXPECT_FALSE(here.osPrettyName.isEmpty());
}

TEST_F(CrashReportingTest, EventFilterDropsTheUserAndTwoExtraKeys) {
    ASSERT_TRUE(configure(info(kDSN)));
    auto object = [](std::initializer_list<std::pair<const char*, const char*>> members) {
        sentry_value_t o = sentry_value_new_object();
        for (const auto& [k, v] : members) sentry_value_set_by_key(o, k, sentry_value_new_string(v));
        return o;
    };
    struct Case {
        const char* what;
        bool withUser;
        std::vector<std::pair<const char*, const char*>> extra;  // empty with hasExtra false: no extra at all
        bool hasExtra;
        const char* after;
    };
    const Case cases[] = {
        {"extra with both keys and one other", true,
         {{"environment", "prod"}, {"process", "vocalynx"}, {"coli_path", "/usr/bin/coli"}}, true,
         R"({"extra":{"coli_path":"/usr/bin/coli"},"level":"error"})"},
        {"no extra data", true, {}, false, R"({"level":"error"})"},
        {"only the removed keys", false, {{"environment", "prod"}, {"process", "x"}}, true,
         R"({"extra":{},"level":"error"})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        sentry_value_t event = object({{"level", "error"}});
        if (c.withUser) sentry_value_set_by_key(event, "user", object({{"id", "501"}, {"username", "me"}}));
        if (c.hasExtra) {
            sentry_value_t extra = sentry_value_new_object();
            for (const auto& [k, v] : c.extra) sentry_value_set_by_key(extra, k, sentry_value_new_string(v));
            sentry_value_set_by_key(event, "extra", extra);
        }
        sentry_value_t sent = standin::runBeforeSend(event);
        EXPECT_EQ(sent.node, event.node) << "the same event goes on";
        EXPECT_EQ(standin::describe(sent), c.after);
        sentry_value_decref(sent);
    }
}

TEST_F(CrashReportingTest, CleanupBreadcrumbAndPidTag) {
    sdk.addBreadcrumb(QStringLiteral("info"), QStringLiteral("coli.cleanup"));
    CrashReporting::setLastColiCleanupPidTag(sdk, 4242);
    EXPECT_EQ(standin::recorded().breadcrumbs, std::vector<std::string>{R"({"category":"coli.cleanup","level":"info"})"});
    EXPECT_EQ(standin::recorded().tags.at("last_coli_cleanup_pid"), "4242");
    CrashReporting::setLastColiCleanupPidTag(sdk, -1);
    EXPECT_EQ(standin::recorded().tags.at("last_coli_cleanup_pid"), "-1");
}

}  // namespace
