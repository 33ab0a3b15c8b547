// SPDX-License-Identifier: MIT
#include "Notifier.h"

#include "store/MonitorStore.h"
#include "ui/Style.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSet>

namespace vantor {

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;
const QString interface = u"org.freedesktop.Notifications"_s;

// Agents choose alert titles and error texts: keep them to one readable piece of plain text. A
// lone surrogate or a control character would make the bus refuse the whole message.
QString plain(const QString &text, qsizetype maxChars)
{
    QString out = QString::fromUtf8(text.toUtf8());
    for (QChar &c : out)
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    out = out.simplified();
    if (out.size() > maxChars) {
        out.truncate(maxChars - 1);
        if (out.back().isHighSurrogate()) out.chop(1);
        out += u'…';
    }
    return out;
}

// The title of the newest critical alert; the first of equally new ones.
QString newestCriticalTitle(const MetricsSnapshot &m)
{
    const ServerAlert *newest = nullptr;
    for (const ServerAlert &a : m.alerts)
        if (a.severity == u"critical"_s && (!newest || a.createdAt > newest->createdAt)) newest = &a;
    return newest ? newest->title : QString();
}

bool isTrouble(NodeStatus s)
{
    return s == NodeStatus::critical || s == NodeStatus::offline;
}

} // namespace

Notifier::Notifier(MonitorStore *store, const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_store(store), m_bus(bus)
{
    if (!m_bus.isConnected() || !store) return;

    // Once per refresh cycle, after the whole cycle has been written.
    connect(store, &MonitorStore::cycleEnded, this, &Notifier::evaluate);

    // No service name: matching on it would make QtDBus ask the bus for its owner and wait.
    m_bus.connect(QString(), path, interface, u"ActionInvoked"_s, this, SLOT(onActionInvoked(uint, QString)));

    auto *caps = new QDBusPendingCallWatcher(
        m_bus.asyncCall(QDBusMessage::createMethodCall(service, path, interface, u"GetCapabilities"_s)),
        this);
    connect(caps, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        const QDBusPendingReply<QStringList> reply = *call;
        if (reply.isValid()) m_markup = reply.value().contains(u"body-markup"_s);
        call->deleteLater();
    });
}

Notifier::~Notifier() = default;

void Notifier::evaluate()
{
    if (!m_store) return;
    if (m_store->demoMode()) return; // synthetic readings are nobody's trouble

    QSet<QString> present;
    for (const NodeRuntime &record : m_store->nodes()) {
        if (present.contains(record.id())) continue; // a shared id belongs to its first record
        present.insert(record.id());
        auto state = m_states.find(record.id());
        if (state == m_states.end()) {
            state = m_states.insert(record.id(), NodeState{record.node});
        } else if (state->node.address != record.node.address || state->node.token != record.node.token) {
            // Saved with a new address or token: as good as a new node until it answers.
            state->node = record.node;
            state->answered = false;
        }
        reconcile(record, *state);
    }
    m_states.removeIf([&](const auto &entry) { return !present.contains(entry.key()); });
}

// Brings the node's notification in line with its status, as far as the rules allow today; what
// they hold back is caught up at the end of a later cycle.
void Notifier::reconcile(const NodeRuntime &record, NodeState &state)
{
    const NodeStatus status = record.status;
    if (status != NodeStatus::offline) state.answered = true;

    bool recovery = false;
    if (isTrouble(status)) {
        if (!state.answered) return; // never answered: its offline is no news
        if (state.shown == status && !state.shownIsRecovery) return;
    } else {
        if (!state.shown || state.shownIsRecovery) return; // nothing to recover from
        recovery = true;
    }
    if (state.awaitingReply) return;
    if (state.lastSent && m_clock() - *state.lastSent < minimumGap) return;
    send(record, state, recovery);
}

void Notifier::send(const NodeRuntime &record, NodeState &state, bool recovery)
{
    const QString name = plain(record.node.name, 80);
    const NodeStatus status = record.status;
    QString summary, body;
    if (recovery) {
        summary = name + u" · 已恢复"_s;
        body = u"当前状态："_s + ui::statusLook(status).label;
    } else {
        summary = name + u" · "_s + ui::statusLook(status).label;
        body = status == NodeStatus::critical ? newestCriticalTitle(record.metrics)
                                              : record.errorMessage.value_or(fetchMessages::noConnection());
    }
    const QVariantMap hints{
        {u"urgency"_s, QVariant::fromValue(uchar(recovery ? 1 : 2))},
        {u"desktop-entry"_s, u"vantor"_s},
    };
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, u"Notify"_s);
    call << u"Vantor"_s << state.notificationId << u"vantor"_s << summary << bodyText(body)
         << QStringList{u"default"_s, u"查看节点"_s} << hints << qint32(-1);

    state.lastSent = m_clock();
    state.awaitingReply = true;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, id = record.id(), status, recovery](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                const auto state = m_states.find(id);
                if (state == m_states.end()) return; // the node left the list meanwhile
                state->awaitingReply = false;
                if (!reply.isValid()) return; // no server: tried again a minute later, quietly
                state->notificationId = reply.value();
                state->shown = status;
                state->shownIsRecovery = recovery;
            });
}

QString Notifier::bodyText(const QString &text) const
{
    const QString clean = plain(text, 300);
    return m_markup ? clean.toHtmlEscaped() : clean;
}

void Notifier::onActionInvoked(uint id, const QString &actionKey)
{
    if (id == 0 || actionKey != u"default"_s) return;
    for (auto it = m_states.cbegin(); it != m_states.cend(); ++it)
        if (it->notificationId == id) {
            Q_EMIT activated(it.key());
            return;
        }
}

} // namespace vantor
