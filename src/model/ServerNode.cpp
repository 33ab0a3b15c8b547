// SPDX-License-Identifier: MIT
#include "ServerNode.h"

#include "JsonRead.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace vantor {

using namespace Qt::StringLiterals;

size_t qHash(const ServerNode &v, size_t seed)
{
    return hashFields(seed, v.id, v.name, v.address, v.token);
}

bool readRecord(json::Reader &r, json::Object o, const json::Path &p, ServerNode &n)
{
    return r.field(o, p, "id", n.id) && r.field(o, p, "name", n.name) &&
           r.field(o, p, "address", n.address) && r.field(o, p, "token", n.token);
}

bool readRecord(json::Reader &r, json::Object o, const json::Path &p, NodeConfigFile &f)
{
    return r.field(o, p, "refresh_interval", f.refreshInterval) && r.field(o, p, "nodes", f.nodes);
}

std::variant<NodeConfigFile, QString> decodeNodeConfigFile(const QByteArray &bytes)
{
    return json::decodeDocument<NodeConfigFile>(bytes);
}

std::variant<QList<ServerNode>, QString> decodeNodeList(const QByteArray &bytes)
{
    return json::decodeDocument<QList<ServerNode>>(bytes);
}

QByteArray encodeNodeList(const QList<ServerNode> &nodes)
{
    // QJsonObject keeps its keys sorted, which gives the ascending order by itself.
    QJsonArray array;
    for (const ServerNode &n : nodes)
        array.append(QJsonObject{
            {u"address"_s, n.address}, {u"id"_s, n.id}, {u"name"_s, n.name}, {u"token"_s, n.token}});
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace vantor
