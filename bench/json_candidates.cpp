// SPDX-License-Identifier: MIT
// The two JSON libraries considered for reading agent replies, against Qt's parser, on the same bodies:
// parse (and full validation) only, no records. Throughput for the typical and large reply; time and
// peak memory growth for the hostile bodies, one parse each with a fresh parser.
//
// usage: bench_json_candidates

#include "PeakMemory.h"
#include "Replies.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>

#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <cstdio>
#include <functional>

using namespace vantor::bench;

namespace {

constexpr int maxDepth = 1024;

// Counts nesting and gives up beyond the limit; takes every other event as it comes.
struct DepthSax : nlohmann::json_sax<nlohmann::json> {
    int depth = 0;
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t &) override { return true; }
    bool string(string_t &) override { return true; }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override { return ++depth <= maxDepth; }
    bool key(string_t &) override { return true; }
    bool end_object() override { return --depth, true; }
    bool start_array(std::size_t) override { return ++depth <= maxDepth; }
    bool end_array() override { return --depth, true; }
    bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &) override
    {
        return false;
    }
};

bool nlohmannSax(const QByteArray &body)
{
    DepthSax sax;
    return nlohmann::json::sax_parse(body.cbegin(), body.cend(), &sax);
}

bool simdjsonDom(simdjson::dom::parser &parser, const QByteArray &body)
{
    simdjson::dom::element root;
    return parser.parse(body.constData(), size_t(body.size()), true).get(root) == simdjson::SUCCESS;
}

// On-Demand validates only what is read, so every value is read.
bool walk(simdjson::ondemand::value v, int depth)
{
    if (depth > maxDepth) return false;
    simdjson::ondemand::json_type type;
    if (v.type().get(type)) return false;
    switch (type) {
    case simdjson::ondemand::json_type::array:
        for (auto item : v.get_array()) {
            simdjson::ondemand::value child;
            if (item.get(child) || !walk(child, depth + 1)) return false;
        }
        return true;
    case simdjson::ondemand::json_type::object:
        for (auto field : v.get_object()) {
            std::string_view key;
            simdjson::ondemand::value child;
            if (field.unescaped_key().get(key) || field.value().get(child) || !walk(child, depth + 1))
                return false;
        }
        return true;
    case simdjson::ondemand::json_type::number: {
        simdjson::ondemand::number n;
        return !v.get_number().get(n);
    }
    case simdjson::ondemand::json_type::string: {
        std::string_view s;
        return !v.get_string().get(s);
    }
    case simdjson::ondemand::json_type::boolean: {
        bool b;
        return !v.get_bool().get(b);
    }
    case simdjson::ondemand::json_type::null:
        return v.is_null().value_unsafe();
    }
    return false;
}

bool simdjsonOnDemand(simdjson::ondemand::parser &parser, const QByteArray &padded)
{
    simdjson::ondemand::document doc;
    if (parser
            .iterate(padded.constData(), size_t(padded.size()) - simdjson::SIMDJSON_PADDING,
                     size_t(padded.size()))
            .get(doc))
        return false;
    simdjson::ondemand::object root;
    if (doc.get_object().get(root)) return false;
    for (auto field : root) {
        std::string_view key;
        simdjson::ondemand::value child;
        if (field.unescaped_key().get(key) || field.value().get(child) || !walk(child, 2)) return false;
    }
    const char *rest = nullptr;
    return doc.current_location().get(rest) == simdjson::OUT_OF_BOUNDS; // nothing after the value
}

bool qtParse(const QByteArray &body)
{
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError;
}

double rate(const QByteArray &body, const std::function<bool()> &work)
{
    QElapsedTimer clock;
    clock.start();
    qint64 runs = 0;
    do {
        if (!work()) std::printf("  (rejected!)\n");
        ++runs;
    } while (clock.elapsed() < 400);
    return double(body.size()) * double(runs) / (double(clock.nsecsElapsed()) / 1e9) / 1e6;
}

QByteArray padded(const QByteArray &body)
{
    QByteArray copy = body;
    copy.append(QByteArray(simdjson::SIMDJSON_PADDING, ' '));
    return copy;
}

} // namespace

int main()
{
    std::printf("simdjson implementation: %s\n", simdjson::get_active_implementation()->name().c_str());
    const QByteArray large = largeReply(25000);
    std::printf("%-10s %12s %12s %12s %12s   (MB/s, parse only)\n", "body", "Qt", "nlohmann", "simd DOM",
                "simd OnDem");
    for (const auto &[name, body] : {std::pair{"typical", typicalReply}, std::pair{"large", large}}) {
        simdjson::dom::parser dom;
        simdjson::ondemand::parser od;
        const QByteArray pad = padded(body);
        std::printf("%-10s %12.1f %12.1f %12.1f %12.1f\n", name, rate(body, [&] { return qtParse(body); }),
                    rate(body, [&] { return nlohmannSax(body); }),
                    rate(body, [&] { return simdjsonDom(dom, body); }),
                    rate(body, [&] { return simdjsonOnDemand(od, pad); }));
    }

    std::printf("\n%-22s %-10s %10s %10s %8s\n", "hostile body", "reader", "ms", "peak MB", "result");
    const std::pair<const char *, QByteArray> hostile[] = {
        {"nested arrays", nestedArraysBody()},        {"huge string", hugeStringBody()},
        {"50,000 short alerts", shortAlertsBody()},   {"nesting 1024 deep", deepNestingBody(1024)},
        {"nesting 1025 deep", deepNestingBody(1025)},
    };
    for (const auto &[name, body] : hostile) {
        const char *label = name;
        const QByteArray pad = padded(body);
        const std::pair<const char *, std::function<bool()>> readers[] = {
            {"Qt", [&] { return qtParse(body); }},
            {"nlohmann", [&] { return nlohmannSax(body); }},
            {"simd DOM",
             [&] {
                 simdjson::dom::parser p;
                 return simdjsonDom(p, body);
             }},
            {"simd OnDem",
             [&] {
                 simdjson::ondemand::parser p;
                 return simdjsonOnDemand(p, pad);
             }},
        };
        for (const auto &reader : readers) {
            inChild([&] {
                bool ok = false;
                const Peak peak = measurePeak([&] { ok = reader.second(); });
                std::printf("%-22s %-10s %10.1f %10.1f %8s\n", label, reader.first, peak.ms, peak.grownMb,
                            ok ? "ok" : "refused");
                return 0;
            });
        }
    }
    return 0;
}
