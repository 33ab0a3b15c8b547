// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace vantor {

// Field-wise hashing for records. A member function set keeps the overloads for
// optionals and lists in one place; records provide qHash(record, seed) found by ADL.
class Hasher
{
public:
    explicit Hasher(size_t seed) : m_seed(seed) {}

    template<class T> Hasher &add(const T &value)
    {
        using ::qHash;
        mix(qHash(value, 0));
        return *this;
    }
    template<class T> Hasher &add(const std::optional<T> &value)
    {
        mix(value.has_value() ? 1 : 0);
        if (value) add(*value);
        return *this;
    }
    template<class T> Hasher &add(const QList<T> &list)
    {
        mix(size_t(list.size()));
        for (const T &item : list)
            add(item);
        return *this;
    }

    size_t result() const { return m_seed; }

private:
    void mix(size_t h) { m_seed ^= h + 0x9e3779b97f4a7c15ULL + (m_seed << 6) + (m_seed >> 2); }
    size_t m_seed;
};

template<class... Fields> size_t hashFields(size_t seed, const Fields &...fields)
{
    Hasher h(seed);
    (h.add(fields), ...);
    return h.result();
}

} // namespace vantor
