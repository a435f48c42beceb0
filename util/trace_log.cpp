#include "util/trace_log.h"

Q_LOGGING_CATEGORY(vorloTrace, "vorlo2.trace", QtInfoMsg)

void setTraceLogging(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("vorlo2.trace.debug=true")
                                        : QStringLiteral("vorlo2.trace.debug=false"));
}
