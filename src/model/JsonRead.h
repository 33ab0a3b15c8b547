#pragma once

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>
#include <type_traits>
#include <variant>

namespace vantor::json {

// Where a value sits in the document, kept as a chain on the stack so that the
// text form ("$.alerts[2].id") is only built when something fails.
struct Path {
    const Path *parent = nullptr;
    QLatin1StringView key;
    qsizetype index = -1;

    Path child(QLatin1StringView k) const { return Path{this, k, -1}; }
    Path at(qsizetype i) const { return Path{this, {}, i}; }
    QString toString() const;
};

// Collects the first failure; every reader returns false once something failed.
struct Reader {
    QString error;

    bool fail(const Path &path, QLatin1StringView what);

    bool read(const QJsonValue &v, const Path &p, double &out);
    bool read(const QJsonValue &v, const Path &p, qint64 &out);
    bool read(const QJsonValue &v, const Path &p, QString &out);
    bool read(const QJsonValue &v, const Path &p, QDateTime &out);
    bool read(const QJsonValue &v, const Path &p, QUuid &out);

    template<class T> bool read(const QJsonValue &v, const Path &p, QList<T> &out)
    {
        if (!v.isArray()) return fail(p, QLatin1StringView("expected an array"));
        const QJsonArray array = v.toArray();
        out.clear();
        out.reserve(array.size());
        for (qsizetype i = 0; i < array.size(); ++i) {
            T item{};
            if (!read(array.at(i), p.at(i), item)) return false;
            out.append(std::move(item));
        }
        return true;
    }

    // Records: decoded by a free function readRecord(Reader&, const QJsonObject&, const Path&, T&).
    template<class T>
    requires requires(Reader &r, const QJsonObject &o, const Path &p, T &t) { readRecord(r, o, p, t); }
    bool read(const QJsonValue &v, const Path &p, T &out)
    {
        if (!v.isObject()) return fail(p, QLatin1StringView("expected an object"));
        return readRecord(*this, v.toObject(), p, out);
    }

    // A required member: missing or null fails.
    template<class T> bool field(const QJsonObject &o, const Path &parent, QLatin1StringView key, T &out)
    {
        const Path p = parent.child(key);
        const QJsonValue v = o.value(key);
        if (v.isUndefined()) return fail(p, QLatin1StringView("required value missing"));
        if (v.isNull()) return fail(p, QLatin1StringView("required value is null"));
        return read(v, p, out);
    }

    // An optional member: missing or null is absent; present with the wrong kind fails.
    template<class T>
    bool field(const QJsonObject &o, const Path &parent, QLatin1StringView key, std::optional<T> &out)
    {
        const QJsonValue v = o.value(key);
        out.reset();
        if (v.isUndefined() || v.isNull()) return true;
        T value{};
        if (!read(v, parent.child(key), value)) return false;
        out = std::move(value);
        return true;
    }
};

// Parses bytes with Qt's reader, turning its error into "<text> at offset N".
std::optional<QJsonDocument> parseDocument(const QByteArray &bytes, QString &error);

// Decodes a whole document into T, all or nothing.
template<class T> std::variant<T, QString> decodeDocument(const QByteArray &bytes)
{
    QString error;
    const auto doc = parseDocument(bytes, error);
    if (!doc) return error;
    const QJsonValue root = doc->isArray()    ? QJsonValue(doc->array())
                            : doc->isObject() ? QJsonValue(doc->object())
                                              : QJsonValue(QJsonValue::Undefined);
    Reader reader;
    T value{};
    if (!reader.read(root, Path{}, value)) return reader.error;
    return value;
}

// Strict forms that Qt's own parsers accept too loosely.
std::optional<QDateTime> parseTimestamp(QStringView text);
std::optional<QUuid> parseUuid(QStringView text);

} // namespace vantor::json
