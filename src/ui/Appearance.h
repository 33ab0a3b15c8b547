// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

namespace vantor::ui {

enum class ColorScheme { Light, Dark };

// The colour scheme the look is drawn in, and the signal that tells widgets to re-colour
// themselves when it changes. One for the whole process.
class Appearance : public QObject
{
    Q_OBJECT
public:
    static Appearance *instance();

    ColorScheme scheme() const { return m_scheme; }
    // Re-colours the application palette and every widget when the scheme differs.
    void setScheme(ColorScheme scheme);

Q_SIGNALS:
    void schemeChanged(vantor::ui::ColorScheme scheme);

private:
    Appearance() = default;
    ColorScheme m_scheme = ColorScheme::Light;
};

} // namespace vantor::ui
