// SPDX-License-Identifier: MIT
#pragma once

// A strict reader of Prometheus's text exposition format 0.0.4, written from the format's description:
// every line is a HELP or TYPE line, another comment or a sample; names, label names, escapes, values
// and UTF-8 are checked; a metric's lines stay together, its TYPE comes first and once, and no series
// appears twice.

#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

struct Exposition {
    std::string error;                     // empty when the text is well-formed
    std::map<std::string, double> samples; // keyed by the series as written: name{labels}
};

inline Exposition checkExposition(const std::string &text)
{
    static const std::regex utf8("([\\x00-\\x7F]|[\\xC2-\\xDF][\\x80-\\xBF]|\\xE0[\\xA0-\\xBF][\\x80-\\xBF]|"
                                 "[\\xE1-\\xEC\\xEE\\xEF][\\x80-\\xBF]{2}|\\xED[\\x80-\\x9F][\\x80-\\xBF]|"
                                 "\\xF0[\\x90-\\xBF][\\x80-\\xBF]{2}|[\\xF1-\\xF3][\\x80-\\xBF]{3}|"
                                 "\\xF4[\\x80-\\x8F][\\x80-\\xBF]{2})*");
    static const std::string name = "[a-zA-Z_:][a-zA-Z0-9_:]*";
    // HELP text may escape only a backslash and a line feed; a label value also a double quote.
    static const std::regex help("# HELP (" + name + ") (?:[^\\\\\n]|\\\\[\\\\n])*"),
        type("# TYPE (" + name + ") (counter|gauge|histogram|summary|untyped)");
    static const std::regex sample(
        "(" + name +
        ")(\\{(.*)\\})? ([-+]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][-+]?[0-9]+)?|[-+]?Inf|NaN)( -?[0-9]+)?");
    static const std::regex label("([a-zA-Z_][a-zA-Z0-9_]*)=\"((?:[^\"\\\\\n]|\\\\[\\\\\"n])*)\"(,|$)");
    if (text.empty() || text.back() != '\n') return {"the text does not end with a line feed", {}};
    if (!std::regex_match(text, utf8)) return {"the text is not UTF-8", {}};
    Exposition e;
    std::set<std::string> typed, helped, finished, series;
    std::string current;
    std::istringstream lines(text);
    int number = 0;
    for (std::string l; std::getline(lines, l);) {
        const auto fail = [&, at = std::to_string(++number)](const std::string &why) {
            return Exposition{"line " + at + ": " + why + ": " + l, {}};
        };
        std::smatch m;
        if (std::regex_match(l, m, help)) {
            if (!helped.insert(m[1]).second) return fail("HELP again");
        } else if (std::regex_match(l, m, type)) {
            if (!typed.insert(m[1]).second || finished.contains(m[1]))
                return fail("TYPE again or after samples");
        } else if (l.starts_with("#") && !l.starts_with("# HELP") && !l.starts_with("# TYPE")) {
            continue;
        } else if (std::regex_match(l, m, sample)) {
            if (m[1] != current && finished.contains(m[1]))
                return fail("the metric's lines are not together");
            finished.insert(current = m[1]);
            std::map<std::string, std::string>
                labels; // the escaping is canonical: values compared as written
            std::smatch lm;
            for (std::string rest = m[3]; !rest.empty(); rest = lm.suffix())
                if (!std::regex_search(rest, lm, label, std::regex_constants::match_continuous) ||
                    lm.str(1).starts_with("__") || !labels.emplace(lm[1], lm[2]).second)
                    return fail("a malformed, reserved or repeated label");
            std::string key = current;
            for (const auto &[k, v] : labels)
                key += "\x01" + k + "\x02" + v;
            if (!series.insert(key).second) return fail("a series twice");
            e.samples[current + m.str(2)] = std::stod(m[4]);
        } else {
            return fail("neither a comment nor a sample, or a malformed HELP or TYPE");
        }
    }
    return e;
}
