// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <functional>

namespace vantor {
class MonitorStore;
}

namespace vantor::ui {

// Turns a burst of store changes into one call of `update` on the next turn of the event loop, so
// a refresh, which changes the store many times, costs one redraw. The observer lives as a child
// of `context` and dies with it.
class StoreObserver : public QObject
{
    Q_OBJECT
public:
    StoreObserver(MonitorStore *store, QObject *context, std::function<void()> update);

private:
    void schedule();
    std::function<void()> m_update;
    bool m_pending = false;
};

} // namespace vantor::ui
