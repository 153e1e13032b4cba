#pragma once
// Where the about pane's links and the licences sheet point: constants of this build.

namespace vocalynx::about {

inline constexpr const char* kWebsiteURL = "https://vocalynx.app";
inline constexpr const char* kDeveloperName = "Vocalynx";
inline constexpr const char* kDeveloperProfileURL = "https://x.com/vocalynx";
inline constexpr const char* kIssuesURL = "https://github.com/vocalynx/vocalynx/issues";
inline constexpr const char* kNewIssueURL = "https://github.com/vocalynx/vocalynx/issues/new";

inline constexpr const char* kColiRepositoryURL = "https://github.com/vocalynx/coli";
inline constexpr const char* kSparkleRepositoryURL = "https://github.com/sparkle-project/Sparkle";
inline constexpr const char* kSentryRepositoryURL = "https://github.com/getsentry/sentry-cocoa";

}  // namespace vocalynx::about
