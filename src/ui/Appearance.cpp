// SPDX-License-Identifier: MIT
#include "Appearance.h"

#include "Style.h"

#include <QApplication>
#include <QEvent>
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
        // Qt tells the widgets of a new application palette only once the event loop runs, and
        // then later than this call: tell them now, so that what follows builds on the new one.
        const QWidgetList widgets = QApplication::allWidgets();
        for (QWidget *widget : widgets) {
            QEvent changed(QEvent::ApplicationPaletteChange);
            QCoreApplication::sendEvent(widget, &changed);
        }
        Q_EMIT schemeChanged(scheme);
        // Widgets that paint from the colour table read it at paint time; they only need a repaint.
        for (QWidget *widget : widgets)
            widget->update();
    } else {
        Q_EMIT schemeChanged(scheme);
    }
}

} // namespace vantor::ui
