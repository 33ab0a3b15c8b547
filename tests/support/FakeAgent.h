// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace vantor::test {

// One request as the fake agent received it.
struct ReceivedRequest {
    QByteArray requestLine;                           // e.g. "GET /metrics HTTP/1.1"
    QList<std::pair<QByteArray, QByteArray>> headers; // in the order sent, names as sent
    qint64 receivedAtMs = 0;                          // QDateTime::currentMSecsSinceEpoch() on arrival

    // The first header of that name, compared without letter case.
    std::optional<QByteArray> header(QByteArrayView name) const;
};

// A metrics agent on 127.0.0.1 with an ephemeral port, scripted by the test. Every connection gets
// the answer scripted for its path (or the general one) and is then closed.
class FakeAgent : public QObject
{
    Q_OBJECT
public:
    enum class Behaviour {
        Answer,   // status, headers and body after the delay
        Silent,   // accept and read, never answer
        HeadOnly, // status line and headers, then silence
        Trickle,  // status line, headers and body, all one byte per trickleIntervalMs
        Raw,      // head as given, then the body: no status line or headers of ours
    };
    struct Script {
        int status = 200;
        QByteArray body;
        QList<std::pair<QByteArray, QByteArray>> headers;
        int delayMs = 0;
        Behaviour behaviour = Behaviour::Answer;
        int trickleIntervalMs = 100;
        bool sendLength = true;  // without Content-Length the body ends when the connection closes
        qint64 streamLength = 0; // not 0: the body repeated up to this many bytes (< 0: forever), made lazily
        bool chunked = false;    // chunked transfer coding instead of Content-Length
        QByteArray head;         // Raw only: sent once before the repeated body
    };

    explicit FakeAgent(QObject *parent = nullptr);

    quint16 port() const;
    QString url(const QString &path = QStringLiteral("/metrics")) const;

    void setScript(const Script &script) { m_script = script; }
    void setRoute(const QByteArray &path, const Script &script) { m_routes.insert(path, script); }
    void answer(int status, const QByteArray &body, int delayMs = 0)
    {
        m_script = {status, body, {}, delayMs};
    }
    void setBehaviour(Behaviour behaviour) { m_script.behaviour = behaviour; }

    const QList<ReceivedRequest> &requests() const { return m_requests; }

private:
    void onReadable(QTcpSocket *socket);

    QTcpServer *m_server;
    Script m_script;
    QHash<QByteArray, Script> m_routes; // by request path; m_script answers every other path
    QList<ReceivedRequest> m_requests;
};

} // namespace vantor::test
