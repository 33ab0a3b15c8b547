#pragma once

#include "CardFrame.h"
#include "model/NodeRuntime.h"

#include <QAbstractListModel>
#include <QList>
#include <QStyledItemDelegate>

class QListView;

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
        HeadlineRole = Qt::DisplayRole, // "<node> · <title>"
        DetailRole = Qt::UserRole + 1,
        TimeRole,    // short time of day
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
    QList<AlertEntry> m_entries;
    QLocale m_locale = QLocale::system();
};

// Paints one alert row: severity icon, two lines of text, the time at the trailing edge and a
// divider below every row but the last. All rows have the same height.
class AlertRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    static int rowHeight();

private:
    mutable QHash<QString, QPixmap> m_icons; // keyed by name, tint and device pixel ratio
};

// The alerts of a set of nodes on a card background, or a calm empty state when there are none.
// The list does not scroll by itself: it is as tall as its rows and its host page scrolls.
class AlertList : public CardFrame
{
    Q_OBJECT
public:
    explicit AlertList(QWidget *parent = nullptr);

    void setNodes(const QList<NodeRuntime> &nodes);

    const AlertListModel *model() const { return m_model; }
    bool showsEmptyState() const;

private:
    void fitHeight();

    AlertListModel *m_model;
    QListView *m_view;
    QWidget *m_empty;
};

} // namespace vantor::ui
