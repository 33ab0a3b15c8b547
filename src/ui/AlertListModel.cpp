// SPDX-License-Identifier: MIT
#include "AlertListModel.h"

#include "Format.h"
#include "Style.h"

#include <algorithm>

namespace vantor::ui {

using namespace Qt::StringLiterals;

QList<AlertEntry> gatherAlerts(const QList<NodeRuntime> &nodes)
{
    QList<AlertEntry> entries;
    qsizetype total = 0;
    for (const NodeRuntime &runtime : nodes)
        total += runtime.metrics.alerts.size();
    entries.reserve(total);
    for (const NodeRuntime &runtime : nodes) {
        for (const ServerAlert &alert : runtime.metrics.alerts)
            entries.append({runtime.node.name, alert});
    }

    // Sort keys once: comparing QDateTime directly converts on every comparison.
    QList<std::pair<qint64, qsizetype>> keys;
    keys.reserve(entries.size());
    for (qsizetype i = 0; i < entries.size(); ++i)
        keys.append({entries[i].alert.createdAt.toMSecsSinceEpoch(), i});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });

    QList<AlertEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.append(std::move(entries[key.second]));
    return sorted;
}

bool isCriticalSeverity(const QString &severity)
{
    return severity == u"critical"_s;
}

bool AlertListModel::setEntries(QList<AlertEntry> entries)
{
    if (entries == m_entries) return false;
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
    return true;
}

int AlertListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

namespace {

// A text from the data as the row lays it out: bounded in length, its line breaks kept as breaks.
QString shown(const QString &text)
{
    QString out = boundedText(text);
    out.replace(u"\r\n"_s, QString(QChar::LineSeparator));
    out.replace(u'\n', QChar::LineSeparator);
    out.replace(u'\r', QChar::LineSeparator);
    return out;
}

} // namespace

QVariant AlertListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size()) return {};
    const AlertEntry &entry = m_entries.at(index.row());
    const bool critical = isCriticalSeverity(entry.alert.severity);
    switch (role) {
    case HeadlineRole:
        return QString(shown(entry.nodeName) + u" · "_s + shown(entry.alert.title));
    case DetailRole:
        return shown(entry.alert.detail);
    case TimeRole:
        return timeText(entry);
    case IconRole:
        return critical ? u"exclamation-octagon-fill"_s : u"exclamation-triangle-fill"_s;
    case TintRole:
        return critical ? color(ColorRole::Red) : color(ColorRole::Orange);
    case DividerRole:
        return index.row() + 1 < m_entries.size();
    case Qt::AccessibleTextRole:
        return QString(shown(entry.nodeName) + u" · "_s + shown(entry.alert.title) + u"，"_s +
                       shown(entry.alert.detail) + u"，"_s + timeText(entry));
    default:
        return {};
    }
}

QString AlertListModel::timeText(const AlertEntry &entry) const
{
    return m_locale.toString(entry.alert.createdAt.toLocalTime().time(), m_timeFormat);
}

} // namespace vantor::ui
