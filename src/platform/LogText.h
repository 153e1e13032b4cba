#pragma once
// Values that come from outside the program (another program's output, a bus message, a file a
// user or an agent owns) as they may stand inside one log line.

#include <QString>
#include <QStringView>

namespace vocalynx {

// The value with control characters escaped ("\n", "\r", "\t", others as "\u001b"), so that it can
// never end the line or forge another, and cut to at most `limit` characters of its own. A cut value
// ends in "…" and the original length, for example "abc…(20971520 chars)".
QString boundedLogValue(QStringView value, qsizetype limit = 200);

}  // namespace vocalynx
