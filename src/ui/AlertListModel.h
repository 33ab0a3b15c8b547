// SPDX-License-Identifier: MIT
#pragma once

#include "Format.h"
#include "model/NodeRuntime.h"

#include <QAbstractListModel>
#include <QList>
#include <QLocale>

namespace vantor::ui {

// One row of the list: an alert and the name of the node that raised it.
struct AlertEntry {
    QString nodeName;
    ServerAlert alert;

    bool operator==(const AlertEntry &) const = default;
};

// The alerts of `nodes` (never their notices), newest first; equal times keep node order, then the
// order within the reading.
QList<AlertEntry> gatherAlerts(const QList<NodeRuntime> &nodes);

// Only the exact severity "critical" is shown as critical; every other value is a warning.
bool isCriticalSeverity(const QString &severity);

// The rows as a flat model, so the view paints only what is on screen.
class AlertListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        HeadlineRole = Qt::DisplayRole, // "<node> · <title>"; texts bounded, line breaks as U+2028
        DetailRole = Qt::UserRole + 1,
        TimeRole,    // hours and minutes in the locale's style
        IconRole,    // icon name
        TintRole,    // QColor of the icon
        DividerRole, // true for every row but the last
    };

    using QAbstractListModel::QAbstractListModel;

    // Returns whether anything changed.
    bool setEntries(QList<AlertEntry> entries);
    const QList<AlertEntry> &entries() const { return m_entries; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QString timeText(const AlertEntry &entry) const;

    QList<AlertEntry> m_entries;
    QLocale m_locale = QLocale::system();
    QString m_timeFormat = shortTimeFormat(m_locale);
};

} // namespace vantor::ui
