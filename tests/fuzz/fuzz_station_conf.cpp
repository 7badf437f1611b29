// Bytes → the station configuration reader. It accepts or refuses with a reason, never
// half-fills the caller's struct, and reads the same bytes the same way twice.

#include "design/StationConfiguration.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    StationConfiguration first;
    first.subscriberName = QStringLiteral("untouched");
    QString error;
    if (!StationConfiguration::parse(bytes, &first, &error)) {
        if (error.isEmpty() || first.subscriberName != QLatin1String("untouched") || !first.variables.isEmpty())
            std::abort();
        return 0;
    }
    if (!error.isEmpty())
        std::abort();
    StationConfiguration second;
    if (!StationConfiguration::parse(bytes, &second, nullptr))
        std::abort();
    if (second.subscriberNumber != first.subscriberNumber || second.variables.size() != first.variables.size()
        || second.messages.size() != first.messages.size() || second.tags.size() != first.tags.size()
        || second.busArbiter.scanTables.size() != first.busArbiter.scanTables.size())
        std::abort();
    // The lookups stay inside what was read.
    for (const StationConfiguration::Variable& v : first.variables) {
        const StationConfiguration::Variable* found = first.variable(v.id);
        if (!found || found->id != v.id)
            std::abort();
    }
    const int segment = first.segment();
    if (segment < -1 || segment > 255 || (segment == -1) != first.messages.isEmpty())
        std::abort();
    if (first.producedIds().size() + first.consumedIds().size() != first.variables.size())
        std::abort();
    return 0;
}
