#pragma once

#include "AlertListModel.h"
#include "CardFrame.h"

class QListView;

namespace vantor::ui {

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
