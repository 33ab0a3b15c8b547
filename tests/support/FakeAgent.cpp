// SPDX-License-Identifier: MIT
#include "FakeAgent.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace vantor::test {

constexpr qint64 blockSize = 64 * 1024; // of a streamed body

static void stream(QTcpSocket *socket, const QByteArray &pattern, qint64 length, bool chunked)
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
    QObject::connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
    topUp();
}

static void respond(QTcpSocket *socket, const FakeAgent::Script &script)
{
    const qint64 length = script.streamLength ? script.streamLength : script.body.size();
    if (script.behaviour == FakeAgent::Behaviour::Raw) {
        socket->write(script.head);
        return stream(socket, script.body, length, false);
    }
    // The client ignores the reason phrase, so one does for every status.
    QByteArray head = "HTTP/1.1 " + QByteArray::number(script.status) +
                      " Status\r\nContent-Type: application/json\r\nConnection: close\r\n";
    if (script.chunked)
        head += "Transfer-Encoding: chunked\r\n";
    else if (script.sendLength && length >= 0)
        head += "Content-Length: " + QByteArray::number(length) + "\r\n";
    for (const auto &[key, value] : script.headers)
        head += key + ": " + value + "\r\n";
    head += "\r\n";
    if (script.behaviour == FakeAgent::Behaviour::HeadOnly) return void(socket->write(head));
    if (script.behaviour != FakeAgent::Behaviour::Trickle) {
        socket->write(head);
        // An empty body still needs a pattern to stream from; a length of 0 sends none of it.
        return stream(socket, script.body.isEmpty() ? QByteArray(" ") : script.body, length, script.chunked);
    }
    auto *timer = new QTimer(socket);
    auto sent = std::make_shared<qsizetype>(0);
    const QByteArray reply = head + script.body;
    QObject::connect(timer, &QTimer::timeout, socket, [socket, timer, sent, reply] {
        if (*sent < reply.size()) return void(socket->write(reply.mid((*sent)++, 1)));
        timer->stop();
        socket->disconnectFromHost();
    });
    timer->start(script.trickleIntervalMs);
}

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
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
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
    const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    socket->setProperty("buffer", end < 0 ? buffer : QByteArray());
    if (end < 0) return;
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr); // one request per connection

    QList<QByteArray> lines = buffer.left(end).replace("\r\n", "\n").split('\n');
    ReceivedRequest request{lines.takeFirst(), {}, QDateTime::currentMSecsSinceEpoch()};
    for (const QByteArray &line : std::as_const(lines)) {
        // Keep the value as sent: only the one space after the colon goes.
        const qsizetype colon = line.indexOf(':');
        const QByteArray value = line.mid(colon + 1);
        if (colon > 0)
            request.headers.append({line.left(colon), value.startsWith(' ') ? value.sliced(1) : value});
    }
    m_requests.append(request);

    const Script script = m_routes.value(request.requestLine.split(' ').value(1), m_script);
    if (script.behaviour == Behaviour::Silent) return;
    QTimer::singleShot(script.delayMs, socket, [socket, script] { respond(socket, script); });
}

} // namespace vantor::test
