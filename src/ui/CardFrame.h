// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace vantor::ui {

// The background of tiles, cards and the alert list: a rounded rectangle (radius 14)
// in the window's secondary background colour. Children are laid out on top of it.
class CardFrame : public QWidget
{
    Q_OBJECT
public:
    explicit CardFrame(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace vantor::ui
