// SPDX-License-Identifier: MIT
// Decode throughput of agent replies: a typical one (about 2 KB: hardware and network sections, three
// alerts and a notice, like a real agent's reply) and a large one (several MB of alerts). Each
// repetition decodes the same body over and over for a fixed time; the figure is the median over the
// repetitions. Qt's JSON parse alone (QJsonDocument::fromJson, no records) is timed on the same bytes as a
// yardstick.
//
// usage: bench_decode [repetitions [case]]   (default 7 repetitions of every case)
// Lines starting with "BENCH " are for scripts/bench: BENCH <key> <value> <unit>.

#include "Replies.h"
#include "model/Snapshot.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QList>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <variant>
#include <vector>

using namespace vantor;
using vantor::bench::largeReply;
using vantor::bench::typicalReply;

namespace {

double median(QList<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.at(samples.size() / 2);
}

struct Case {
    const char *key;
    const char *label;
    const QByteArray *body;
    qint64 budgetMs;
    std::function<bool(const QByteArray &)> work;
    QList<double> rates; // MB/s (10^6 bytes per second), one per repetition
};

// Runs `work` over the body again and again for at least the case's budget.
double throughput(const Case &c)
{
    QElapsedTimer clock;
    clock.start();
    qint64 runs = 0;
    do {
        if (!c.work(*c.body)) {
            std::fprintf(stderr, "bench_decode: the body did not decode\n");
            std::exit(1);
        }
        ++runs;
    } while (clock.elapsed() < c.budgetMs);
    return double(c.body->size()) * double(runs) / (double(clock.nsecsElapsed()) / 1e9) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    constexpr int largeAlerts = 25000;
    const QByteArray large = largeReply(largeAlerts);

    // Both bodies must decode, and into what was written.
    for (const auto &[body, alerts] : {std::pair{typicalReply, 3}, std::pair{large, largeAlerts}}) {
        const auto decoded = decodeSnapshot(body);
        if (const QString *error = std::get_if<QString>(&decoded)) {
            std::fprintf(stderr, "bench_decode: %s\n", qPrintable(*error));
            return 1;
        }
        if (std::get<MetricsSnapshot>(decoded).alerts.size() != alerts) {
            std::fprintf(stderr, "bench_decode: wrong alert count\n");
            return 1;
        }
    }

    const auto decode = [](const QByteArray &body) {
        return std::holds_alternative<MetricsSnapshot>(decodeSnapshot(body));
    };
    // Qt's parser alone, as the yardstick: the console decoded through it before.
    const auto parse = [](const QByteArray &body) {
        QJsonParseError error;
        QJsonDocument::fromJson(body, &error);
        return error.error == QJsonParseError::NoError;
    };
    std::vector<Case> cases = {
        {"decode_typical", "decode, typical reply", &typicalReply, 300, decode, {}},
        {"decode_large", "decode, large reply (25,000 alerts)", &large, 600, decode, {}},
        {"parse_typical", "QJsonDocument::fromJson alone, typical", &typicalReply, 300, parse, {}},
        {"parse_large", "QJsonDocument::fromJson alone, large", &large, 600, parse, {}},
    };
    // Interleaved, so that a burst of load elsewhere on the machine hits every case alike.
    if (argc > 2) // one case only, for a profiler
        std::erase_if(cases, [&](const Case &c) { return std::strcmp(c.key, argv[2]) != 0; });
    if (cases.empty()) {
        std::fprintf(stderr, "bench_decode: no case named %s\n", argv[2]);
        return 2;
    }
    for (int r = 0; r < repetitions; ++r)
        for (Case &c : cases)
            c.rates.append(throughput(c));

    std::printf("decode = bytes to MetricsSnapshot (JSON parse + typed reading); %d repetitions\n",
                repetitions);
    for (const Case &c : cases) {
        const auto [low, high] = std::minmax_element(c.rates.begin(), c.rates.end());
        std::printf("%-36s %9lld bytes  median %7.1f MB/s  (min %.1f, max %.1f)\n", c.label,
                    static_cast<long long>(c.body->size()), median(c.rates), *low, *high);
    }
    for (const Case &c : cases)
        std::printf("BENCH %s %.1f MB/s\n", c.key, median(c.rates));
    // The whole decode against Qt's parse alone, over the same bytes in the same run.
    const auto rateOf = [&](const char *key) {
        const auto it =
            std::find_if(cases.begin(), cases.end(), [&](const Case &c) { return !std::strcmp(c.key, key); });
        return it == cases.end() ? 0.0 : median(it->rates);
    };
    for (const char *size : {"typical", "large"}) {
        const double qt = rateOf(("parse_" + std::string(size)).c_str());
        if (qt > 0)
            std::printf("BENCH speedup_%s %.2f x\n", size,
                        rateOf(("decode_" + std::string(size)).c_str()) / qt);
    }
    return 0;
}
