// SPDX-License-Identifier: MIT
#pragma once

#include "SidebarEntry.h"

class QLabel;

namespace vantor {

// An icon and a caption. A selectable one (the overview entry) is semibold in the primary colour
// while selected and regular in the secondary colour otherwise; a plain one (the settings button)
// always looks like a label in the primary colour.
class SidebarButton : public SidebarEntry
{
    Q_OBJECT
public:
    enum Kind { Selectable, Plain };
    SidebarButton(Kind kind, const QString &iconName, const QString &text, QWidget *parent = nullptr);

protected:
    void selectionChanged() override;

private:
    Kind m_kind;
    QString m_iconName;
    QLabel *m_icon;
    QLabel *m_text;
};

} // namespace vantor
