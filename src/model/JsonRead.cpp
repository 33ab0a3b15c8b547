// SPDX-License-Identifier: MIT
#include "JsonRead.h"

#include <QTimeZone>
#include <nlohmann/json.hpp>

#include <cmath>
#include <memory>

namespace vantor::json {

using namespace Qt::StringLiterals;

static_assert(maxDepth == simdjson::DEFAULT_MAX_DEPTH, "the parser refuses by its own default depth");

QString Path::toString() const
{
    if (!parent) return u"$"_s;
    QString text = parent->toString();
    if (index >= 0) return text + u'[' + QString::number(index) + u']';
    return text + u'.' + QString::fromUtf8(key.data(), qsizetype(key.size()));
}

bool Reader::fail(const Path &path, QLatin1StringView what)
{
    if (error.isEmpty()) error = path.toString() + u": "_s + what;
    return false;
}

bool Reader::read(Value v, const Path &p, double &out)
{
    // Integers beyond 2^53 lose precision here, as a double field expects.
    if (v.get_double().get(out)) return fail(p, "expected a number"_L1);
    return true;
}

bool Reader::read(Value v, const Path &p, qint64 &out)
{
    int64_t whole = 0;
    switch (v.type()) {
    case simdjson::dom::element_type::INT64:
        if (v.get_int64().get(whole)) break;
        out = whole;
        return true;
    case simdjson::dom::element_type::UINT64:
        return fail(p, "integer out of the signed 64-bit range"_L1);
    case simdjson::dom::element_type::DOUBLE: {
        // Written with a fraction or exponent: accepted when the value is whole and fits.
        const double d = v.get_double().value_unsafe();
        if (d != std::trunc(d)) break;
        if (d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return fail(p, "integer out of the signed 64-bit range"_L1);
        out = qint64(d);
        return true;
    }
    default:
        break;
    }
    return fail(p, "expected an integer"_L1);
}

bool Reader::read(Value v, const Path &p, QString &out)
{
    std::string_view s;
    if (v.get_string().get(s)) return fail(p, "expected a string"_L1);
    out = QString::fromUtf8(s.data(), qsizetype(s.size()));
    return true;
}

bool Reader::read(Value v, const Path &p, QDateTime &out)
{
    std::string_view s;
    const auto t = v.get_string().get(s) ? std::nullopt : parseTimestamp(s);
    if (!t) return fail(p, "expected an RFC 3339 date-time string"_L1);
    out = *t;
    return true;
}

bool Reader::read(Value v, const Path &p, QUuid &out)
{
    std::string_view s;
    const auto id = v.get_string().get(s) ? std::nullopt : parseUuid(s);
    if (!id) return fail(p, "expected a UUID string"_L1);
    out = *id;
    return true;
}

namespace {

// The parser lent to documents on this thread. It grows to the largest body read; beyond this
// capacity it is released after use, so one huge reply does not stay resident in a pool thread.
constexpr size_t keptCapacity = 64 * 1024;

struct ThreadParser {
    std::unique_ptr<simdjson::dom::parser> parser = std::make_unique<simdjson::dom::parser>();
    bool lent = false;
};
thread_local ThreadParser threadParser;

// Where a second, slower reader finds the first fault: simdjson reports what is wrong, not where.
// nlohmann's strict SAX parser stops at the first byte that breaks the grammar and says why.
struct Locator : nlohmann::json_sax<nlohmann::json> {
    size_t depth = 0;
    std::optional<size_t> offset; // of the byte where reading stopped
    std::string what;

    bool nest()
    {
        if (++depth <= maxDepth) return true;
        what = "nesting deeper than " + std::to_string(maxDepth) + " levels";
        return false;
    }
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t &text) override
    {
        // nlohmann falls back to a double for integers beyond 64 bits; the strict reader refuses them.
        if (text.find_first_of(".eE") != std::string::npos) return true;
        what = "integer out of the 64-bit range: " + text;
        return false;
    }
    bool string(string_t &) override { return true; }
    bool binary(binary_t &) override { return true; }
    bool start_object(std::size_t) override { return nest(); }
    bool key(string_t &) override { return true; }
    bool end_object() override { return --depth, true; }
    bool start_array(std::size_t) override { return nest(); }
    bool end_array() override { return --depth, true; }
    bool parse_error(std::size_t position, const std::string &, const nlohmann::detail::exception &e) override
    {
        // position counts the bytes read, the offending one (or the end) included.
        offset = position > 0 ? position - 1 : 0;
        what = e.what();
        // "[json.exception.parse_error.101] parse error at line 1, column 5: syntax error ..." keeps
        // only the reason: the place is given again, in characters rather than bytes.
        if (const auto tag = what.find("] "); what.starts_with('[') && tag != std::string::npos)
            what.erase(0, tag + 2);
        if (const auto colon = what.find(": "); what.starts_with("parse error") && colon != std::string::npos)
            what.erase(0, colon + 2);
        // The token read so far helps when short; an unterminated string would quote the whole body.
        if (const auto last = what.find("; last read: ");
            last != std::string::npos && what.size() - last > 60)
            what.erase(last);
        return false;
    }
};

// Line and column of a byte offset, both from 1, counting characters: UTF-8 continuation bytes
// belong to the character before them.
std::pair<qsizetype, qsizetype> lineAndColumn(const QByteArray &bytes, qsizetype offset)
{
    offset = std::min(offset, bytes.size());
    qsizetype line = 1, column = 1;
    for (qsizetype i = 0; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c == '\n') {
            ++line;
            column = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

QString describe(const QByteArray &bytes, simdjson::error_code code)
{
    if (code == simdjson::DEPTH_ERROR) return u"JSON nesting deeper than %1 levels"_s.arg(maxDepth);
    Locator locator;
    const bool accepted = nlohmann::json::sax_parse(bytes.cbegin(), bytes.cend(), &locator);
    if (!locator.offset) { // a limit of the strict reader, or a fault the locator let pass
        const std::string what =
            locator.what.empty() || accepted ? simdjson::error_message(code) : locator.what;
        return u"JSON error: "_s + QString::fromStdString(what);
    }
    const auto [line, column] = lineAndColumn(bytes, qsizetype(*locator.offset));
    return u"JSON syntax error at line %1, column %2: %3"_s.arg(line).arg(column).arg(
        QString::fromStdString(locator.what));
}

} // namespace

Document::Document()
{
    if (!threadParser.lent) {
        threadParser.lent = true;
        m_parser = threadParser.parser.get();
    } else { // a document read while another is open on this thread gets its own parser
        m_parser = new simdjson::dom::parser();
    }
}

Document::~Document()
{
    if (m_parser != threadParser.parser.get()) {
        delete m_parser;
        return;
    }
    if (m_parser->capacity() > keptCapacity) threadParser.parser = std::make_unique<simdjson::dom::parser>();
    threadParser.lent = false;
}

std::optional<Value> Document::parse(const QByteArray &bytes, QString &error)
{
    Value root;
    // The parser copies the bytes into a padded buffer of its own: a QByteArray has no padding.
    const auto code = m_parser->parse(bytes.constData(), size_t(bytes.size()), true).get(root);
    if (code == simdjson::SUCCESS) return root;
    error = describe(bytes, code);
    return std::nullopt;
}

namespace {

// Reads exactly `count` ASCII digits at `pos`, or -1.
int digits(std::string_view s, size_t pos, size_t count)
{
    if (pos + count > s.size()) return -1;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = s[pos + i];
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

// YYYY-MM-DDTHH:MM:SS[.fraction](Z|+HH:MM|-HH:MM)
std::optional<QDateTime> parseTimestamp(std::string_view s)
{
    if (s.size() < 20) return std::nullopt;
    const int year = digits(s, 0, 4), month = digits(s, 5, 2), day = digits(s, 8, 2);
    const int hour = digits(s, 11, 2), minute = digits(s, 14, 2), second = digits(s, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;
    if (s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':') return std::nullopt;

    size_t pos = 19;
    int msec = 0;
    if (s[pos] == '.') {
        const size_t start = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
            ++pos;
        if (pos == start) return std::nullopt;
        for (size_t i = start; i < start + 3; ++i) // milliseconds; finer digits are dropped
            msec = msec * 10 + (i < pos ? s[i] - '0' : 0);
    }

    int offsetSeconds = 0;
    const std::string_view zone = s.substr(pos);
    if (zone == "Z") {
        offsetSeconds = 0;
    } else if (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && zone[3] == ':') {
        const int oh = digits(zone, 1, 2), om = digits(zone, 4, 2);
        if (oh < 0 || om < 0 || oh > 23 || om > 59) return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (zone[0] == '-' ? -1 : 1);
    } else {
        return std::nullopt;
    }

    const QDate date(year, month, day);
    const QTime time(hour, minute, second, msec);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).addSecs(-offsetSeconds);
}

// The 36-character 8-4-4-4-12 form only; QUuid itself also takes braces.
std::optional<QUuid> parseUuid(std::string_view s)
{
    if (s.size() != 36) return std::nullopt;
    uchar bytes[16];
    size_t n = 0;
    for (size_t i = 0; i < 36; ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (s[i] != '-') return std::nullopt;
            continue;
        }
        const int high = hexDigit(s[i]), low = hexDigit(s[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[n++] = uchar(high << 4 | low);
        ++i;
    }
    return QUuid::fromRfc4122(QByteArrayView(bytes, 16));
}

} // namespace vantor::json
