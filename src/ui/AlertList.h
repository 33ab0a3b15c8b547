// SPDX-License-Identifier: MIT
#pragma once

#include "AlertListModel.h"
#include "CardFrame.h"

class QListView;

namespace vantor::ui {

class AlertRowDelegate;

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

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void relayout();

    AlertListModel *m_model;
    AlertRowDelegate *m_delegate;
    QListView *m_view;
    QWidget *m_empty;
    bool m_stale = false; // rows changed while hidden
};

} // namespace vantor::ui
