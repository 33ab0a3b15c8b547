// SPDX-License-Identifier: MIT
#pragma once

#include "model/NodeRuntime.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

namespace vantor {

class MonitorStore;

// Tells the desktop, through org.freedesktop.Notifications, when a node runs into trouble (critical
// or offline) during live polling, and replaces that notification with a recovery note when the node
// is well again. Silent in demo mode and for nodes that have not answered yet; one notification per
// node, sent at most once a minute per node, so a flapping node cannot flood the desktop. Without a
// bus or a notification server it does nothing and says nothing.
class Notifier : public QObject
{
    Q_OBJECT
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds minimumGap{60};

    Notifier(MonitorStore *store, const QDBusConnection &bus, QObject *parent = nullptr);
    ~Notifier() override;

    void setClock(Clock clock) { m_clock = std::move(clock); }

Q_SIGNALS:
    // The user clicked the node's notification.
    void activated(const QString &nodeId);

private Q_SLOTS:
    // QtDBus hands bus signals only to slots named by their signature.
    void onActionInvoked(uint id, const QString &actionKey);

private:
    struct NodeState {
        ServerNode node;                 // as last seen: a changed address or token starts afresh
        bool answered = false;           // a live poll has succeeded since then
        std::optional<NodeStatus> shown; // the status of the notification on screen
        bool shownIsRecovery = false;
        uint notificationId = 0; // the server's id, reused to replace it
        std::optional<std::chrono::steady_clock::time_point> lastSent;
        bool awaitingReply = false;
    };

    void evaluate();
    void reconcile(const NodeRuntime &record, NodeState &state);
    void send(const NodeRuntime &record, NodeState &state, bool recovery);
    QString bodyText(const QString &text) const;

    QPointer<MonitorStore> m_store;
    QDBusConnection m_bus;
    Clock m_clock = [] { return std::chrono::steady_clock::now(); };
    QHash<QString, NodeState> m_states;
    bool m_markup = true; // escape bodies until the server says whether it reads markup
};

} // namespace vantor
