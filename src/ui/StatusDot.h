#pragma once

#include <QColor>
#include <QWidget>

namespace vantor::ui {

// A filled circle of a fixed diameter, used for status and data-source indicators.
class StatusDot : public QWidget
{
    Q_OBJECT
public:
    explicit StatusDot(int diameter, QWidget *parent = nullptr);
    void setColor(const QColor &color);
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};

} // namespace vantor::ui
