// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <simdjson.h>

#include <optional>
#include <string_view>
#include <variant>

namespace vantor::json {

using Value = simdjson::dom::element;
using Object = simdjson::dom::object;

// Nesting allowed in any document; deeper input is refused before any record is read.
inline constexpr size_t maxDepth = 1024;

// Where a value sits in the document, kept as a chain on the stack so that the
// text form ("$.alerts[2].id") is only built when something fails.
struct Path {
    const Path *parent = nullptr;
    std::string_view key;
    qsizetype index = -1;

    Path child(std::string_view k) const { return Path{this, k, -1}; }
    Path at(qsizetype i) const { return Path{this, {}, i}; }
    QString toString() const;
};

// Typed readers over a parsed document. Collects the first failure; every reader returns false once
// something failed.
struct Reader {
    QString error;

    bool fail(const Path &path, QLatin1StringView what);

    bool read(Value v, const Path &p, double &out);
    bool read(Value v, const Path &p, qint64 &out);
    bool read(Value v, const Path &p, QString &out);
    bool read(Value v, const Path &p, QDateTime &out);
    bool read(Value v, const Path &p, QUuid &out);

    template<class T> bool read(Value v, const Path &p, QList<T> &out)
    {
        simdjson::dom::array array;
        if (v.get_array().get(array)) return fail(p, QLatin1StringView("expected an array"));
        out.clear();
        out.reserve(qsizetype(array.size()));
        qsizetype i = 0;
        for (Value item : array) {
            T decoded{};
            if (!read(item, p.at(i++), decoded)) return false;
            out.append(std::move(decoded));
        }
        return true;
    }

    // Records: decoded by a free function readRecord(Reader&, Object, const Path&, T&).
    template<class T>
    requires requires(Reader &r, Object o, const Path &p, T &t) { readRecord(r, o, p, t); }
    bool read(Value v, const Path &p, T &out)
    {
        Object o;
        if (v.get_object().get(o)) return fail(p, QLatin1StringView("expected an object"));
        return readRecord(*this, o, p, out);
    }

    // A required member: missing or null fails. Of duplicate keys the first counts.
    template<class T> bool field(Object o, const Path &parent, std::string_view key, T &out)
    {
        const Path p = parent.child(key);
        Value v;
        if (o.at_key(key).get(v)) return fail(p, QLatin1StringView("required value missing"));
        if (v.is_null()) return fail(p, QLatin1StringView("required value is null"));
        return read(v, p, out);
    }

    // An optional member: missing or null is absent; present with the wrong kind fails.
    template<class T> bool field(Object o, const Path &parent, std::string_view key, std::optional<T> &out)
    {
        out.reset();
        Value v;
        if (o.at_key(key).get(v) || v.is_null()) return true;
        T value{};
        if (!read(v, parent.child(key), value)) return false;
        out = std::move(value);
        return true;
    }
};

// A parsed document. The parser is borrowed from the calling thread and handed back, trimmed, when
// the document goes, so values read from it must not outlive it.
class Document
{
public:
    Document();
    ~Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    // Parses strictly (RFC 8259, UTF-8, at most maxDepth levels). On failure gives nothing and sets
    // the error: for a syntax error with its line and column, counted in characters.
    std::optional<Value> parse(const QByteArray &bytes, QString &error);

private:
    simdjson::dom::parser *m_parser;
};

// Decodes a whole document into T, all or nothing.
template<class T> std::variant<T, QString> decodeDocument(const QByteArray &bytes)
{
    Document document;
    QString error;
    const auto root = document.parse(bytes, error);
    if (!root) return error;
    Reader reader;
    T value{};
    if (!reader.read(*root, Path{}, value)) return reader.error;
    return value;
}

// Strict forms of the text values that Qt's own parsers accept too loosely (ASCII).
std::optional<QDateTime> parseTimestamp(std::string_view text);
std::optional<QUuid> parseUuid(std::string_view text);

} // namespace vantor::json
