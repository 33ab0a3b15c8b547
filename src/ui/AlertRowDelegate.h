// SPDX-License-Identifier: MIT
#pragma once

#include <QFont>
#include <QHash>
#include <QList>
#include <QPixmap>
#include <QStyledItemDelegate>

#include <memory>

namespace vantor::ui {

// Paints one alert row: severity icon, the headline and the detail wrapped to as many lines as
// they need, the time at the trailing edge and a divider below every row but the last. Row heights
// depend on the row width, which the host sets; they are computed once per row and width.
class AlertRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit AlertRowDelegate(QObject *parent = nullptr);
    ~AlertRowDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The width every row is laid out in; a new width, or forget(), drops the known heights.
    void setRowWidth(int width);
    void forget() { m_heights.clear(); }
    int rowHeight(const QModelIndex &index) const;

private:
    struct Layout; // where the parts of one row go
    class Measure;
    Layout layoutRow(const QModelIndex &index, int width) const;

    QFont m_headline;
    QFont m_caption;
    int m_iconSize;
    int m_timeWidth = 0;
    std::unique_ptr<Measure> m_measureHeadline;
    std::unique_ptr<Measure> m_measureCaption;
    int m_width = 0;
    mutable QList<int> m_heights;            // by row; 0 while unknown
    mutable QHash<QString, QPixmap> m_icons; // keyed by name, tint and device pixel ratio
};

} // namespace vantor::ui
