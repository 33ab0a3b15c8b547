// SPDX-License-Identifier: MIT
#include "FakeAgent.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace vantor::test {

namespace {
constexpr char bufferProperty[] = "fakeAgentBuffer";
constexpr qint64 blockSize = 64 * 1024; // of a streamed body
} // namespace

std::optional<QByteArray> ReceivedRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return std::nullopt;
}

FakeAgent::FakeAgent(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    m_server->listen(QHostAddress::LocalHost, 0);
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            if (m_script.behaviour == Behaviour::NeverRead) continue; // the request stays unread
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
        }
    });
}

quint16 FakeAgent::port() const
{
    return m_server->serverPort();
}

QString FakeAgent::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path);
}

void FakeAgent::onReadable(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(bufferProperty).toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    socket->setProperty(bufferProperty, end < 0 ? buffer : QByteArray());
    if (end < 0) return;
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr); // one request per connection

    const QList<QByteArray> lines = buffer.left(end).split('\n');
    ReceivedRequest request{lines.value(0).trimmed(), {}, QDateTime::currentMSecsSinceEpoch()};
    for (const QByteArray &line : lines.sliced(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        // Keep the value as sent: only the line end and the one space after the colon go.
        QByteArray value = line.mid(colon + 1).chopped(line.endsWith('\r') ? 1 : 0);
        if (value.startsWith(' ')) value.remove(0, 1);
        request.headers.append({line.left(colon), value});
    }
    m_requests.append(request);

    const Script script = m_routes.value(request.requestLine.split(' ').value(1), m_script);
    if (script.behaviour == Behaviour::Silent) return;
    QTimer::singleShot(script.delayMs, socket, [this, socket, script] { respond(socket, script); });
}

void FakeAgent::respond(QTcpSocket *socket, const Script &script)
{
    if (script.behaviour == Behaviour::Raw) {
        socket->write(script.head);
        return stream(socket, script.body, script.streamLength, false);
    }
    const bool streamed = script.behaviour == Behaviour::Stream;
    const qint64 length = streamed ? script.streamLength : script.body.size();
    // Qt ignores the reason phrase, so one does for every status.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(script.status) +
                      " Status\r\nContent-Type: application/json\r\nConnection: close\r\n";
    if (streamed && script.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (script.sendLength && length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &[key, value] : script.headers)
        head += key + ": " + value + "\r\n";
    head += "\r\n";
    const bool midHead = script.behaviour == Behaviour::CloseMidHead;
    const bool trickleAll = script.behaviour == Behaviour::TrickleAll;
    if (!trickleAll) socket->write(midHead ? head.first(head.size() / 2) : head);

    switch (script.behaviour) {
    case Behaviour::Answer:
        return stream(socket, script.body, script.body.size(), false);
    case Behaviour::Stream:
        return stream(socket, script.body.isEmpty() ? QByteArray(" ") : script.body, length, script.chunked);
    case Behaviour::CloseMidReply:
        socket->write(script.body.left(script.body.size() / 2));
        [[fallthrough]];
    case Behaviour::CloseMidHead:
        return socket->disconnectFromHost();
    case Behaviour::Trickle:
    case Behaviour::TrickleAll: {
        auto *timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        const QByteArray body = trickleAll ? head + script.body : script.body;
        connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body] {
            if (*sent < body.size()) return void(socket->write(body.mid((*sent)++, 1)));
            timer->stop();
            socket->disconnectFromHost();
        });
        return timer->start(script.trickleIntervalMs);
    }
    default:
        break;
    }
}

void FakeAgent::stream(QTcpSocket *socket, const QByteArray &pattern, qint64 length, bool chunked)
{
    // The socket is topped up as it drains, so only a few blocks are ever buffered however long the
    // body is. A short pattern is first repeated to a whole block.
    QByteArray source = pattern;
    while (!source.isEmpty() && source.size() < blockSize)
        source += pattern;

    auto sent = std::make_shared<qint64>(0);
    auto topUp = [socket, source, length, chunked, sent] {
        if (socket->state() != QAbstractSocket::ConnectedState) return;
        while ((length < 0 || *sent < length) && socket->bytesToWrite() < 4 * blockSize) {
            const qint64 size = length < 0 ? blockSize : std::min(blockSize, length - *sent);
            QByteArray data;
            for (qint64 at = *sent % source.size(); data.size() < size; at = 0)
                data.append(source.constData() + at, std::min(size - data.size(), source.size() - at));
            socket->write(chunked ? QByteArray::number(size, 16) + "\r\n" + data + "\r\n" : data);
            *sent += size;
        }
        if (length >= 0 && *sent >= length) {
            if (chunked) socket->write("0\r\n\r\n");
            socket->disconnectFromHost();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    topUp();
}

} // namespace vantor::test
