#include "AlertList.h"

#include "Format.h"
#include "Style.h"

#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace vantor::ui {

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 14;
constexpr int spacing = 12;
constexpr int lineSpacing = 3;

QFont headlineFont()
{
    return ui::font(TextStyle::Subheadline, QFont::Medium);
}

QFont captionFont()
{
    return ui::font(TextStyle::Caption);
}

// The severity icon keeps the size of the row's default (body) text.
int iconSize()
{
    return QFontInfo(ui::font(TextStyle::Body)).pixelSize() + 2;
}

} // namespace

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

QVariant AlertListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size()) return {};
    const AlertEntry &entry = m_entries.at(index.row());
    const bool critical = isCriticalSeverity(entry.alert.severity);
    switch (role) {
    case HeadlineRole:
        return QString(entry.nodeName + u" · "_s + entry.alert.title);
    case DetailRole:
        return entry.alert.detail;
    case TimeRole:
        return shortTime(entry.alert.createdAt, m_locale);
    case IconRole:
        return critical ? u"exclamation-octagon-fill"_s : u"exclamation-triangle-fill"_s;
    case TintRole:
        return critical ? color::red() : color::orange();
    case DividerRole:
        return index.row() + 1 < m_entries.size();
    case Qt::AccessibleTextRole:
        return QString(entry.nodeName + u" · "_s + entry.alert.title + u"，"_s + entry.alert.detail +
                       u"，"_s + shortTime(entry.alert.createdAt, m_locale));
    default:
        return {};
    }
}

int AlertRowDelegate::rowHeight()
{
    const int text =
        QFontMetrics(headlineFont()).height() + lineSpacing + QFontMetrics(captionFont()).height();
    return padding + std::max(text, iconSize()) + padding + 1; // + 1: the divider line
}

QSize AlertRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return {200, rowHeight()};
}

void AlertRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const QRect row = option.rect;
    const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // Severity icon, vertically centred.
    const int size = iconSize();
    const QString iconName = index.data(AlertListModel::IconRole).toString();
    const QColor tint = index.data(AlertListModel::TintRole).value<QColor>();
    const QString key = iconName + tint.name() + QString::number(dpr);
    auto pixmap = m_icons.constFind(key);
    if (pixmap == m_icons.cend()) pixmap = m_icons.insert(key, iconPixmap(iconName, tint, size, dpr));
    const int contentHeight = row.height() - 1;
    painter->drawPixmap(row.left() + padding, row.top() + (contentHeight - size) / 2, *pixmap);

    // Time at the trailing edge.
    const QFont caption = captionFont();
    const QFontMetrics captionMetrics(caption);
    const QString time = index.data(AlertListModel::TimeRole).toString();
    const int timeWidth = captionMetrics.horizontalAdvance(time);
    const QRect timeRect(row.right() - padding - timeWidth + 1, row.top(), timeWidth, contentHeight);
    painter->setFont(caption);
    painter->setPen(color::secondaryText());
    painter->drawText(timeRect, Qt::AlignVCenter | Qt::AlignRight, time);

    // Two lines of text between icon and time.
    const QFont headline = headlineFont();
    const QFontMetrics headlineMetrics(headline);
    const int textLeft = row.left() + padding + size + spacing;
    const int textWidth = std::max(0, timeRect.left() - spacing - textLeft);
    const int textHeight = headlineMetrics.height() + lineSpacing + captionMetrics.height();
    const int top = row.top() + (contentHeight - textHeight) / 2;
    painter->setFont(headline);
    painter->setPen(color::primaryText());
    painter->drawText(QRect(textLeft, top, textWidth, headlineMetrics.height()),
                      Qt::AlignLeft | Qt::AlignVCenter,
                      headlineMetrics.elidedText(index.data(AlertListModel::HeadlineRole).toString(),
                                                 Qt::ElideRight, textWidth));
    painter->setFont(caption);
    painter->setPen(color::secondaryText());
    painter->drawText(
        QRect(textLeft, top + headlineMetrics.height() + lineSpacing, textWidth, captionMetrics.height()),
        Qt::AlignLeft | Qt::AlignVCenter,
        captionMetrics.elidedText(index.data(AlertListModel::DetailRole).toString(), Qt::ElideRight,
                                  textWidth));

    if (index.data(AlertListModel::DividerRole).toBool()) {
        painter->setRenderHint(QPainter::Antialiasing, false);
        painter->fillRect(QRect(row.left(), row.bottom(), row.width(), 1), color::divider());
    }
    painter->restore();
}

AlertList::AlertList(QWidget *parent) : CardFrame(parent), m_model(new AlertListModel(this))
{
    setAccessibleName(u"告警列表"_s);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_view = new QListView(this);
    m_view->setObjectName(u"alertRows"_s);
    m_view->setAccessibleName(u"告警列表"_s);
    m_view->setModel(m_model);
    m_view->setItemDelegate(new AlertRowDelegate(m_view));
    m_view->setUniformItemSizes(true);
    m_view->setLayoutMode(QListView::SinglePass);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->setFrameShape(QFrame::NoFrame);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setAutoScroll(false);
    m_view->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // Rows sit directly on the card: no background of the view's own.
    m_view->setAutoFillBackground(false);
    m_view->viewport()->setAutoFillBackground(false);
    QPalette clear = m_view->palette();
    clear.setColor(QPalette::Base, Qt::transparent);
    m_view->setPalette(clear);

    m_empty = new QWidget(this);
    m_empty->setObjectName(u"emptyState"_s);
    auto *emptyLayout = new QVBoxLayout(m_empty);
    emptyLayout->setContentsMargins(24, 24, 24, 24);
    emptyLayout->setSpacing(8);
    auto *shield = new QLabel(m_empty);
    const int shieldSize = QFontInfo(ui::font(TextStyle::Title2)).pixelSize() + 4;
    shield->setPixmap(iconPixmap(u"shield-check"_s, color::green(), shieldSize, devicePixelRatioF()));
    shield->setAccessibleName(u"无告警"_s);
    auto *title = label(u"暂无告警"_s, TextStyle::Headline, color::primaryText(), QFont::Normal, m_empty);
    auto *caption = label(u"所有节点均处于正常状态"_s, TextStyle::Caption, color::secondaryText(),
                          QFont::Normal, m_empty);
    for (QWidget *w :
         {static_cast<QWidget *>(shield), static_cast<QWidget *>(title), static_cast<QWidget *>(caption)})
        emptyLayout->addWidget(w, 0, Qt::AlignHCenter);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_empty);
    fitHeight();
}

void AlertList::setNodes(const QList<NodeRuntime> &nodes)
{
    if (m_model->setEntries(gatherAlerts(nodes))) fitHeight();
}

bool AlertList::showsEmptyState() const
{
    return m_view->isHidden() && !m_empty->isHidden();
}

void AlertList::fitHeight()
{
    const qsizetype rows = m_model->rowCount();
    m_view->setHidden(rows == 0);
    m_empty->setHidden(rows != 0);
    // As tall as all rows (the host page scrolls), within the largest height a widget may have.
    const qint64 height = std::min<qint64>(qint64(rows) * AlertRowDelegate::rowHeight(), QWIDGETSIZE_MAX);
    m_view->setFixedHeight(int(height));
}

} // namespace vantor::ui
