// SPDX-License-Identifier: MIT
#pragma once

#include "CardFrame.h"

#include <QString>

class QLabel;

namespace vantor::ui {

class ElidedLabel;

// An information card of the node page: caption, a value in bold and a line under it.
class InfoCard : public CardFrame
{
    Q_OBJECT
public:
    InfoCard(const QString &title, const QString &value, const QString &subtitle, QWidget *parent = nullptr);

    void setValue(const QString &value);

    QString title() const;
    QString value() const;
    QString subtitle() const;

private:
    QLabel *m_title;
    ElidedLabel *m_value;
    QLabel *m_subtitle;
};

} // namespace vantor::ui
