#include "DetailMetric.h"

#include "Format.h"
#include "MeterBar.h"
#include "Style.h"

#include <QLabel>
#include <QVBoxLayout>

namespace vantor::ui {

DetailMetric::DetailMetric(const QString &title, double value, const QColor &color, QWidget *parent)
    : CardFrame(parent)
{
    m_title = label(title, TextStyle::Body, color::secondaryText());
    m_percent = new QLabel;
    m_percent->setFont(roundedNumber(31));
    m_percent->setTextFormat(Qt::PlainText);
    m_bar = new MeterBar;
    m_bar->setColor(color);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addWidget(m_percent);
    layout->addWidget(m_bar);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    setValue(value);
}

void DetailMetric::setValue(double value)
{
    m_percent->setText(ui::percentText(value));
    m_bar->setValue(value);
}

QString DetailMetric::title() const
{
    return m_title->text();
}

QString DetailMetric::percentText() const
{
    return m_percent->text();
}

} // namespace vantor::ui
