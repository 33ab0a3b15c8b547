// SPDX-License-Identifier: MIT
#include "StoreObserver.h"

#include "store/MonitorStore.h"

#include <QMetaObject>

namespace vantor::ui {

StoreObserver::StoreObserver(MonitorStore *store, QObject *context, std::function<void()> update)
    : QObject(context), m_update(std::move(update))
{
    connect(store, &MonitorStore::changed, this, &StoreObserver::schedule);
}

void StoreObserver::schedule()
{
    if (m_pending) return;
    m_pending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pending = false;
            m_update();
        },
        Qt::QueuedConnection);
}

} // namespace vantor::ui
