#pragma once

#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>

namespace vantor::ui {

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

} // namespace vantor::ui
