// SPDX-License-Identifier: MIT
#pragma once

#include <QAbstractButton>

namespace vantor {

// A clickable sidebar item: reachable with Tab, moved between with the arrow keys, chosen with a
// click, Enter or Space. It shows a focus ring only when the keyboard brought the focus.
class SidebarEntry : public QAbstractButton
{
    Q_OBJECT
public:
    // `highlight`: a selected entry is drawn on a tinted rounded rectangle.
    explicit SidebarEntry(bool highlight, QWidget *parent = nullptr);

    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);

Q_SIGNALS:
    void stepRequested(int delta); // -1: the entry above, +1: the one below

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    virtual void selectionChanged() {}

private:
    bool m_highlight;
    bool m_selected = false;
    bool m_focusRing = false;
};

} // namespace vantor
