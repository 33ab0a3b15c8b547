#include "JsonRead.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace vantor::json {

using namespace Qt::StringLiterals;

QString Path::toString() const
{
    if (!parent) return u"$"_s;
    QString text = parent->toString();
    if (index >= 0) return text + u'[' + QString::number(index) + u']';
    return text + u'.' + key;
}

bool Reader::fail(const Path &path, QLatin1StringView what)
{
    if (error.isEmpty()) error = path.toString() + u": "_s + what;
    return false;
}

bool Reader::read(const QJsonValue &v, const Path &p, double &out)
{
    if (!v.isDouble()) return fail(p, "expected a number"_L1);
    out = v.toDouble();
    return true;
}

bool Reader::read(const QJsonValue &v, const Path &p, qint64 &out)
{
    // toInteger() returns the default for fractions and values outside 64 bits;
    // asking with two defaults tells a real value from a refusal.
    if (!v.isDouble()) return fail(p, "expected an integer"_L1);
    const qint64 a = v.toInteger(0);
    if (a != v.toInteger(1)) return fail(p, "expected an integer"_L1);
    out = a;
    return true;
}

bool Reader::read(const QJsonValue &v, const Path &p, QString &out)
{
    if (!v.isString()) return fail(p, "expected a string"_L1);
    out = v.toString();
    return true;
}

bool Reader::read(const QJsonValue &v, const Path &p, QDateTime &out)
{
    const auto t = v.isString() ? parseTimestamp(v.toString()) : std::nullopt;
    if (!t) return fail(p, "expected an RFC 3339 date-time string"_L1);
    out = *t;
    return true;
}

bool Reader::read(const QJsonValue &v, const Path &p, QUuid &out)
{
    const auto id = v.isString() ? parseUuid(v.toString()) : std::nullopt;
    if (!id) return fail(p, "expected a UUID string"_L1);
    out = *id;
    return true;
}

std::optional<QJsonDocument> parseDocument(const QByteArray &bytes, QString &error)
{
    QJsonParseError parseError;
    QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = parseError.errorString() + u" at offset "_s + QString::number(parseError.offset);
        return std::nullopt;
    }
    return doc;
}

namespace {

// Reads exactly `count` ASCII digits at `pos`, or -1.
int digits(QStringView s, qsizetype pos, int count)
{
    if (pos + count > s.size()) return -1;
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = s[pos + i];
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

// YYYY-MM-DDTHH:MM:SS[.fraction](Z|+HH:MM|-HH:MM)
std::optional<QDateTime> parseTimestamp(QStringView s)
{
    if (s.size() < 20) return std::nullopt;
    const int year = digits(s, 0, 4), month = digits(s, 5, 2), day = digits(s, 8, 2);
    const int hour = digits(s, 11, 2), minute = digits(s, 14, 2), second = digits(s, 17, 2);
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) return std::nullopt;
    if (s[4] != u'-' || s[7] != u'-' || s[10] != u'T' || s[13] != u':' || s[16] != u':') return std::nullopt;

    qsizetype pos = 19;
    int msec = 0;
    if (s[pos] == u'.') {
        const qsizetype start = ++pos;
        while (pos < s.size() && s[pos] >= u'0' && s[pos] <= u'9')
            ++pos;
        if (pos == start) return std::nullopt;
        for (qsizetype i = start; i < start + 3; ++i) // milliseconds; finer digits are dropped
            msec = msec * 10 + (i < pos ? s[i].unicode() - u'0' : 0);
    }

    int offsetSeconds = 0;
    const QStringView zone = s.mid(pos);
    if (zone == u"Z") {
        offsetSeconds = 0;
    } else if (zone.size() == 6 && (zone[0] == u'+' || zone[0] == u'-') && zone[3] == u':') {
        const int oh = digits(zone, 1, 2), om = digits(zone, 4, 2);
        if (oh < 0 || om < 0 || oh > 23 || om > 59) return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (zone[0] == u'-' ? -1 : 1);
    } else {
        return std::nullopt;
    }

    const QDate date(year, month, day);
    const QTime time(hour, minute, second, msec);
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
}

// The 36-character 8-4-4-4-12 form only; QUuid itself also takes braces.
std::optional<QUuid> parseUuid(QStringView s)
{
    if (s.size() != 36) return std::nullopt;
    for (qsizetype i = 0; i < 36; ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? s[i] != u'-' : !isHex(s[i])) return std::nullopt;
    }
    const QUuid id = QUuid::fromString(s);
    if (id.isNull() && s != u"00000000-0000-0000-0000-000000000000") return std::nullopt;
    return id;
}

} // namespace vantor::json
