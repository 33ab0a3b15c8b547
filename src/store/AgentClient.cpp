// SPDX-License-Identifier: MIT
#include "AgentClient.h"

#include "AgentFetch.h"

#include <QUrl>

#include <utility>

namespace vantor {

using namespace Qt::StringLiterals;

namespace fetchMessages {

QString invalidAddress()
{
    return u"地址格式无效"_s;
}
QString badResponse()
{
    return u"HTTP 响应异常"_s;
}
QString noConnection()
{
    return u"无法连接 agent"_s;
}
QString unusableToken()
{
    return u"令牌含有不能放入 HTTP 头的字符"_s;
}
QString unsupportedScheme()
{
    return u"地址须以 http:// 或 https:// 开头"_s;
}
QString noHost()
{
    return u"地址缺少主机名"_s;
}
QString userInfoRefused()
{
    return u"地址不能含有用户名或密码（user:password@）"_s;
}
QString hostNotFound()
{
    return u"找不到 agent 的主机名"_s;
}
QString connectionRefused()
{
    return u"agent 拒绝连接"_s;
}
QString hostUnreachable()
{
    return u"无法连接到 agent 所在主机"_s;
}
QString connectionLost()
{
    return u"与 agent 的连接中断"_s;
}
QString emptyReply()
{
    return u"agent 未作任何响应就关闭了连接"_s;
}
QString replyCutShort()
{
    return u"agent 的响应不完整，连接提前关闭"_s;
}
QString certificateRejected(const QString &detail)
{
    return u"agent 的 TLS 证书未通过验证："_s + detail;
}
QString tlsFailed(const QString &detail)
{
    return u"与 agent 的 TLS 连接失败："_s + detail;
}
QString clientFailed()
{
    return u"HTTP 客户端无法发起请求"_s;
}
QString transferFailed(int code)
{
    return u"HTTP 请求失败（libcurl 错误 "_s + QString::number(code) + u"）"_s;
}

namespace {
QString sizeText(qint64 bytes)
{
    constexpr qint64 kib = 1024, mib = 1024 * 1024;
    if (bytes % mib == 0) return QString::number(bytes / mib) + u" MiB "_s;
    if (bytes % kib == 0) return QString::number(bytes / kib) + u" KiB "_s;
    return QString::number(bytes) + u" 字节"_s;
}
} // namespace

QString bodyTooLarge(qint64 limitBytes)
{
    return u"agent 响应超过 "_s + sizeText(limitBytes) + u"上限"_s;
}

QString headersTooLarge(qint64 limitBytes)
{
    return u"agent 响应头超过 "_s + sizeText(limitBytes) + u"上限"_s;
}

QString stalled(int stallMs)
{
    return u"agent "_s + QString::number(stallMs / 1000.0) + u" 秒内无响应"_s;
}

QString deadlinePassed(int deadlineMs)
{
    return u"agent 未在 "_s + QString::number(deadlineMs / 1000.0) + u" 秒内完成响应"_s;
}

QString tooManyRedirects()
{
    return u"agent 重定向次数过多"_s;
}

QString redirectRefused(const QUrl &target)
{
    return u"agent 重定向到其他来源 "_s +
           target.adjusted(QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo)
               .toString() +
           u"，为保护令牌未跟随"_s;
}

} // namespace fetchMessages

void fetch(const ServerNode &node, const FetchLimits &limits, QObject *context,
           std::function<void(const FetchResult &)> done)
{
    (new AgentFetch(node, limits, std::move(done), context))->start();
}

} // namespace vantor
