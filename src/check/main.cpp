// vantor-check: polls one agent exactly as the console's refresh cycle does, or decodes a saved
// reply body, and prints what the console would make of it.

#include "model/NodeRuntime.h"
#include "model/SnapshotEncoder.h"
#include "store/AgentClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cstdio>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

constexpr int exitUsage = 2;

struct Options {
    std::optional<QString> url;
    std::optional<QString> file;
    QString token;
    bool tokenGiven = false;
    bool json = false;
};

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QString usage()
{
    return u"usage: vantor-check [--json] [--token TOKEN] URL | vantor-check [--json] --file PATH|-\n"_s;
}

// Gives the options, or an empty optional after a bad argument.
std::optional<Options> parse(const QStringList &args)
{
    Options o;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= args.size()) return std::nullopt;
            return args[++i];
        };
        if (arg == "--json"_L1) {
            o.json = true;
        } else if (arg == "--token"_L1 || arg.startsWith("--token="_L1)) {
            const auto v = arg == "--token"_L1 ? value() : std::optional(arg.mid(8));
            if (!v || o.tokenGiven) return std::nullopt;
            o.token = *v;
            o.tokenGiven = true;
        } else if (arg == "--file"_L1) {
            const auto v = value();
            if (!v || o.file || v->isEmpty()) return std::nullopt;
            o.file = *v;
        } else if (arg.startsWith(u'-') || o.url) {
            return std::nullopt;
        } else {
            o.url = arg;
        }
    }
    if (o.url.has_value() == o.file.has_value()) return std::nullopt; // exactly one source
    if (o.file && o.tokenGiven) return std::nullopt;                  // a token means nothing to a file
    return o;
}

QString number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

QString timestamp(const QDateTime &t)
{
    return t.toUTC().toString(Qt::ISODate);
}

QString describe(const MetricsSnapshot &m)
{
    QString out = u"status: "_s + statusName(m.status()) + u'\n';
    out += u"cpuUsage: "_s + number(m.cpuUsage) + u"\nmemoryUsage: "_s + number(m.memoryUsage) +
           u"\ndiskUsage: "_s + number(m.diskUsage) + u"\nuptimeSeconds: "_s + number(m.uptimeSeconds) +
           u"\nloadAverage: "_s + number(m.loadAverage) + u"\nservices: "_s +
           QString::number(m.servicesRunning) + u'/' + QString::number(m.servicesTotal) +
           u"\nobservedAt: "_s + timestamp(m.observedAt) + u"\nalerts: "_s +
           QString::number(m.alerts.size()) + u'\n';
    for (const ServerAlert &a : m.alerts)
        out += u"  ["_s + a.severity + u"] "_s + a.title + u" — "_s + a.detail + u" ("_s +
               timestamp(a.createdAt) + u")\n"_s;
    return out;
}

int report(const FetchResult &result, bool json)
{
    if (result.reading) {
        const QString status = statusName(result.reading->status());
        if (json) {
            const QJsonObject out{
                {u"ok"_s, true}, {u"status"_s, status}, {u"reading"_s, encodeSnapshot(*result.reading)}};
            write(stdout, QString::fromUtf8(QJsonDocument(out).toJson(QJsonDocument::Indented)));
        } else {
            write(stdout, describe(*result.reading));
        }
        return 0;
    }
    // The text the node's record would carry.
    const QString message = result.message.value_or(fetchMessages::noConnection());
    if (json)
        write(stdout, QString::fromUtf8(
                          QJsonDocument(QJsonObject{{u"ok"_s, false}, {u"error"_s, message}}).toJson()));
    else
        write(stdout, message + u'\n');
    return 1;
}

// Reads a saved body under the same size limit as a reply.
std::optional<FetchResult> decodeFile(const QString &path, QString &problem)
{
    const FetchLimits limits;
    QFile file;
    const bool opened = path == "-"_L1 ? file.open(stdin, QIODevice::ReadOnly)
                                       : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        problem = file.errorString();
        return std::nullopt;
    }
    // A pipe delivers its bytes in pieces: read to the end, or to one byte past the limit.
    QByteArray body;
    while (body.size() <= limits.maxBodyBytes) {
        const QByteArray piece = file.read(limits.maxBodyBytes + 1 - body.size());
        if (piece.isEmpty()) break;
        body += piece;
    }
    if (file.error() != QFileDevice::NoError) {
        problem = file.errorString();
        return std::nullopt;
    }
    if (body.size() > limits.maxBodyBytes)
        return FetchResult{{}, std::nullopt, fetchMessages::bodyTooLarge(limits.maxBodyBytes)};
    auto decoded = decodeSnapshot(body);
    if (auto *reading = std::get_if<MetricsSnapshot>(&decoded))
        return FetchResult{{}, std::move(*reading), {}};
    return FetchResult{{}, std::nullopt, std::get<QString>(decoded)};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const auto options = parse(app.arguments().mid(1));
    if (!options) {
        write(stderr, usage());
        return exitUsage;
    }

    if (options->file) {
        QString problem;
        const auto result = decodeFile(*options->file, problem);
        if (!result) {
            write(stderr, u"vantor-check: cannot read "_s + *options->file + u": "_s + problem + u'\n');
            return exitUsage;
        }
        return report(*result, options->json);
    }

    FetchResult result;
    fetch(ServerNode{u"check"_s, u"check"_s, *options->url, options->token}, FetchLimits{}, &app,
          [&](const FetchResult &r) {
              result = r;
              app.quit();
          });
    app.exec();
    return report(result, options->json);
}
