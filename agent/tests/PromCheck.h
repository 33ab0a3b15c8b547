// SPDX-License-Identifier: MIT
#pragma once

// A strict reader of Prometheus's text exposition format 0.0.4, written from the format's description:
// every line is a HELP or TYPE line, another comment or a sample; names, label names, escapes, values
// and UTF-8 are checked; a metric's lines stay together, its TYPE comes first and once, and no series
// appears twice.

#include <charconv>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <string>

struct Exposition {
    std::string error;                     // empty when the text is well-formed
    std::map<std::string, double> samples; // keyed by the series as written: name{labels}
};

namespace promcheck {

inline bool validUtf8(const std::string &s)
{
    static const std::regex utf8("^([\\x00-\\x7F]|[\\xC2-\\xDF][\\x80-\\xBF]|\\xE0[\\xA0-\\xBF][\\x80-\\xBF]|"
                                 "[\\xE1-\\xEC\\xEE\\xEF][\\x80-\\xBF]{2}|\\xED[\\x80-\\x9F][\\x80-\\xBF]|"
                                 "\\xF0[\\x90-\\xBF][\\x80-\\xBF]{2}|[\\xF1-\\xF3][\\x80-\\xBF]{3}|"
                                 "\\xF4[\\x80-\\x8F][\\x80-\\xBF]{2})*$");
    return std::regex_match(s, utf8);
}

// Unescapes text in which only the listed characters may follow a backslash; false on another.
inline bool unescape(const std::string &in, const std::string &allowed, std::string &out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i == in.size() || allowed.find(in[i]) == std::string::npos) return false;
        out += in[i] == 'n' ? '\n' : in[i];
    }
    return true;
}

inline bool parseValue(const std::string &text, double &value)
{
    if (text == "NaN" || text == "+Inf" || text == "-Inf") return true;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && r.ec == std::errc() && r.ptr == text.data() + text.size();
}

} // namespace promcheck

inline Exposition checkExposition(const std::string &text)
{
    using namespace promcheck;
    static const std::string name = "[a-zA-Z_:][a-zA-Z0-9_:]*";
    static const std::regex help("# HELP (" + name + ") (.*)"), type("# TYPE (" + name + ") (\\S+)");
    static const std::regex sample("(" + name + ")(\\{(.*)\\})? (\\S+)( -?[0-9]+)?");
    static const std::regex label("([a-zA-Z_][a-zA-Z0-9_]*)=\"((?:[^\"\\\\\n]|\\\\.)*)\"(,|$)");
    Exposition e;
    if (text.empty() || text.back() != '\n') return {"the text does not end with a line feed", {}};
    if (!validUtf8(text)) return {"the text is not UTF-8", {}};
    std::set<std::string> typed, helped, finished, series;
    std::string current;
    std::size_t start = 0;
    for (int line = 1; start < text.size(); ++line) {
        const std::size_t end = text.find('\n', start);
        const std::string l = text.substr(start, end - start);
        start = end + 1;
        const auto fail = [&](const std::string &why) {
            return Exposition{"line " + std::to_string(line) + ": " + why + ": " + l, {}};
        };
        std::smatch m;
        std::string plain;
        if (std::regex_match(l, m, help)) {
            if (!helped.insert(m[1]).second) return fail("a second HELP");
            if (!unescape(m[2], "\\n", plain)) return fail("a bad escape in HELP");
        } else if (std::regex_match(l, m, type)) {
            static const std::set<std::string> kinds{"counter", "gauge", "histogram", "summary", "untyped"};
            if (!kinds.contains(m[2])) return fail("an unknown type");
            if (!typed.insert(m[1]).second || finished.contains(m[1]) || current == m[1])
                return fail("TYPE again or after the metric's samples");
        } else if (l.starts_with("#")) {
            continue;
        } else if (std::regex_match(l, m, sample)) {
            const std::string metric = m[1];
            if (metric != current) {
                if (finished.contains(metric)) return fail("the metric's lines are not together");
                if (!current.empty()) finished.insert(current);
                current = metric;
            }
            std::map<std::string, std::string> labels;
            std::string rest = m[3];
            while (!rest.empty()) {
                std::smatch lm;
                if (!std::regex_search(rest, lm, label, std::regex_constants::match_continuous))
                    return fail("a malformed label");
                if (lm.str(1).starts_with("__")) return fail("a reserved label name");
                if (!unescape(lm[2], "\\\"n", plain)) return fail("a bad escape in a label value");
                if (!labels.emplace(lm[1], plain).second) return fail("a label twice");
                rest = lm.suffix();
            }
            std::string key = metric;
            for (const auto &[k, v] : labels)
                key += "\x01" + k + "\x02" + v;
            if (!series.insert(key).second) return fail("a series twice");
            double value = 0;
            if (!parseValue(m[4], value)) return fail("a malformed value");
            e.samples[metric + m.str(2)] = value;
        } else {
            return fail("neither a comment nor a sample");
        }
    }
    return e;
}
