// SPDX-License-Identifier: MIT
#pragma once

#include "Style.h"

#include <QLabel>

namespace vantor::ui {

// A one-line label for texts of any length: when the text does not fit it ends in "…" and the
// whole text (up to the shown-length bound) becomes the tooltip. It asks the layout for the room
// of its whole text but accepts far less, so a long name never widens its page.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget *parent = nullptr);

    void setFullText(const QString &text);
    const QString &fullText() const { return m_full; }
    bool isElided() const { return text() != m_full; }

    // Text that always keeps its room, such as "100%" for a percentage; the default keeps none.
    void setMinimumText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void elide();

    QString m_full;
    QString m_minimum;
};

// An ElidedLabel in one text role and colour, like label().
ElidedLabel *elidedLabel(TextStyle style, ColorRole color = ColorRole::PrimaryText,
                         QFont::Weight weight = QFont::Normal, QWidget *parent = nullptr);

} // namespace vantor::ui
