// SPDX-License-Identifier: MIT
// Hostile reply bodies, each within the 8 MiB reply cap, through the console's whole decode
// (decodeSnapshot): the time of one decode and the growth of peak resident memory it causes. Every
// case runs in a child of its own, so memory freed by an earlier case cannot hide the growth of a later.
//
// usage: bench_hostile
// Lines starting with "BENCH " are for scripts/bench: BENCH <key> <value> <unit>.

#include "PeakMemory.h"
#include "Replies.h"
#include "model/Snapshot.h"

#include <QFile>

#include <cstdio>
#include <cstring>

using namespace vantor;
using namespace vantor::bench;

namespace {

struct Case {
    const char *key;
    const char *label;
    QByteArray body;
    bool decodes;
};

} // namespace

int main()
{
    const Case cases[] = {
        {"nested", "466,000 x [[[[[[[[]]]]]]]] under an ignored key", nestedArraysBody(), true},
        {"string", "one 8 MiB string under an ignored key", hugeStringBody(), true},
        {"alerts", "an alert list filling the cap", shortAlertsBody(), true},
        {"deep", "nesting 1,024 deep, repeated to the cap", deepNestingBody(1024), true},
        {"deeper", "nesting 1,025 deep, repeated to the cap", deepNestingBody(1025), false},
    };
    int failures = 0;
    std::printf("%-44s %9s %9s %9s  %s\n", "body", "bytes", "ms", "peak MB", "result");
    for (const Case &c : cases) {
        const int status = inChild([&c] {
            std::variant<MetricsSnapshot, QString> decoded;
            const Peak peak = measurePeak([&] { decoded = decodeSnapshot(c.body); });
            const auto *snapshot = std::get_if<MetricsSnapshot>(&decoded);
            const QString result = snapshot
                                       ? QStringLiteral("decoded, %1 alerts").arg(snapshot->alerts.size())
                                       : std::get<QString>(decoded).left(60);
            std::printf("%-44s %9lld %9.1f %9.1f  %s\n", c.label, static_cast<long long>(c.body.size()),
                        peak.ms, peak.grownMb, qPrintable(result));
            std::printf("BENCH hostile_%s_ms %.1f ms\nBENCH hostile_%s_mb %.1f MB\n", c.key, peak.ms, c.key,
                        peak.grownMb);
            return bool(snapshot) == c.decodes ? 0 : 1;
        });
        if (status != 0) {
            std::fprintf(stderr, "bench_hostile: %s: unexpected result\n", c.key);
            ++failures;
        }
    }
    return failures ? 1 : 0;
}
