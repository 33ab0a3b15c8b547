#include "Appearance.h"

#include "Style.h"

#include <QApplication>
#include <QWidget>

namespace vantor::ui {

Appearance *Appearance::instance()
{
    // Never destroyed: widgets that outlive the application object may still ask for colours.
    static auto *appearance = new Appearance;
    return appearance;
}

void Appearance::setScheme(ColorScheme scheme)
{
    if (scheme == m_scheme) return;
    m_scheme = scheme;
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance())) {
        applyPalette(*app);
        Q_EMIT schemeChanged(scheme);
        // Widgets that paint from the colour table read it at paint time; they only need a repaint.
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget *widget : widgets)
            widget->update();
    } else {
        Q_EMIT schemeChanged(scheme);
    }
}

} // namespace vantor::ui
