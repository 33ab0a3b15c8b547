// SPDX-License-Identifier: MIT
// vantor-check: polls one agent exactly as the console's refresh cycle does, or decodes a saved
// reply body, and prints what the console would make of it.

#include "model/NodeRuntime.h"
#include "model/SnapshotEncoder.h"
#include "store/AgentClient.h"
#include "store/NodeFiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
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
    bool json = false;
};

// What the command line asked for: a check with its options, or something to print and an exit code.
struct Command {
    std::optional<Options> options;
    QString text; // for standard output (help, version) or, with a non-zero code, standard error
    int exitCode = 0;
};

void write(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

constexpr qint64 maxTokenFileBytes = 64 * 1024;

// The token kept in a file, without the line break an editor or `echo` leaves at its end.
std::optional<QString> readTokenFile(const QString &path, QString &problem)
{
    auto read = readRegularFile(path, maxTokenFileBytes);
    if (auto *why = std::get_if<QString>(&read)) {
        problem = *why;
        return std::nullopt;
    }
    QByteArray bytes = std::get<QByteArray>(std::move(read));
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

Command parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Polls one Vantor agent exactly as the console does, or decodes a saved reply body, and prints "
        "what the console would make of it.\n\nThe token for the agent comes from --token, from "
        "--token-file, or else from the environment variable VANTOR_TOKEN. A token given with --token "
        "can be seen by every user of this machine (for example with ps); prefer the other two.\n\n"
        "Exit status: 0 for a good reading, 1 when the console would show the node offline, 2 for a "
        "usage error or an unreadable file."_s);
    const QCommandLineOption help({u"h"_s, u"help"_s}, u"Show this help and exit."_s);
    const QCommandLineOption version(u"version"_s, u"Show the version and exit."_s);
    const QCommandLineOption json(u"json"_s, u"Print the verdict as a JSON object."_s);
    const QCommandLineOption token(u"token"_s, u"Send TOKEN in the X-Monitor-Token header."_s, u"TOKEN"_s);
    const QCommandLineOption tokenFile(
        u"token-file"_s, u"Read the token from PATH; line breaks at its end are dropped."_s, u"PATH"_s);
    const QCommandLineOption file(
        u"file"_s, u"Decode a saved reply body from PATH (- for standard input) instead of polling."_s,
        u"PATH"_s);
    parser.addOptions({help, version, json, token, tokenFile, file});
    parser.addPositionalArgument(u"URL"_s, u"The agent's address, e.g. http://127.0.0.1:9100/metrics"_s);

    const QString usage = u"usage: vantor-check [--json] [--token TOKEN | --token-file PATH] URL\n"
                          "       vantor-check [--json] --file PATH|-\n"
                          "Try 'vantor-check --help' for more.\n"_s;
    const auto fail = [&](const QString &why) {
        return Command{std::nullopt, why + u'\n' + usage, exitUsage};
    };
    if (!parser.parse(arguments)) return fail(u"vantor-check: "_s + parser.errorText());
    if (parser.isSet(help)) return Command{std::nullopt, parser.helpText(), 0};
    if (parser.isSet(version))
        return Command{std::nullopt, u"vantor-check "_s + QStringLiteral(VANTOR_VERSION) + u'\n', 0};

    for (const QCommandLineOption *single : {&token, &tokenFile, &file})
        if (parser.values(*single).size() > 1)
            return fail(u"vantor-check: --"_s + single->names().constFirst() + u" given twice"_s);
    Options o;
    o.json = parser.isSet(json);
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1) return fail(u"vantor-check: only one URL can be checked at a time"_s);
    if (!positional.isEmpty()) o.url = positional.constFirst();
    if (parser.isSet(file)) o.file = parser.value(file);
    if (o.url.has_value() == o.file.has_value()) return fail(u"vantor-check: give either a URL or --file"_s);
    if (o.file && o.file->isEmpty()) return fail(u"vantor-check: --file needs a path"_s);
    if (parser.isSet(token) && parser.isSet(tokenFile))
        return fail(u"vantor-check: give the token once, with --token or with --token-file"_s);
    if (o.file && (parser.isSet(token) || parser.isSet(tokenFile)))
        return fail(u"vantor-check: a token means nothing to a saved reply"_s);

    if (parser.isSet(token)) {
        o.token = parser.value(token);
    } else if (parser.isSet(tokenFile)) {
        QString problem;
        const auto read = readTokenFile(parser.value(tokenFile), problem);
        if (!read)
            return Command{std::nullopt,
                           u"vantor-check: cannot read token file "_s + parser.value(tokenFile) + u": "_s +
                               problem + u'\n',
                           exitUsage};
        o.token = *read;
    } else if (o.url) {
        o.token = qEnvironmentVariable("VANTOR_TOKEN");
    }
    return Command{std::move(o), {}, 0};
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
    // The text the node's record would carry, then the status behind it, which the record keeps to
    // itself (a wrong token shows there only as a bad response).
    const QString message = result.message.value_or(fetchMessages::noConnection());
    if (json) {
        QJsonObject out{{u"ok"_s, false}, {u"error"_s, message}};
        if (result.httpStatus) out.insert(u"httpStatus"_s, *result.httpStatus);
        write(stdout, QString::fromUtf8(QJsonDocument(out).toJson()));
    } else {
        write(stdout, message + u'\n');
        if (result.httpStatus)
            write(stdout, u"HTTP status: "_s + QString::number(*result.httpStatus) + u'\n');
    }
    return 1;
}

// Reads a saved body under the same size limit as a reply: a regular file, or standard input for "-".
std::optional<FetchResult> decodeFile(const QString &path, QString &problem)
{
    const FetchLimits limits;
    QByteArray body;
    if (path != "-"_L1) {
        auto read = readRegularFile(path, limits.maxBodyBytes);
        if (auto *why = std::get_if<QString>(&read)) {
            // A file over the cap is a reply the console would refuse, not an unreadable file.
            if (QFileInfo(path).isFile() && QFileInfo(path).size() > limits.maxBodyBytes)
                return FetchResult{{}, std::nullopt, fetchMessages::bodyTooLarge(limits.maxBodyBytes)};
            problem = *why;
            return std::nullopt;
        }
        body = std::get<QByteArray>(std::move(read));
    } else {
        QFile file;
        if (!file.open(stdin, QIODevice::ReadOnly)) {
            problem = file.errorString();
            return std::nullopt;
        }
        // A pipe delivers its bytes in pieces: read to the end, or to one byte past the limit.
        while (body.size() <= limits.maxBodyBytes) {
            const QByteArray piece = file.read(limits.maxBodyBytes + 1 - body.size());
            if (piece.isEmpty()) break;
            body += piece;
        }
        if (file.error() != QFileDevice::NoError) {
            problem = file.errorString();
            return std::nullopt;
        }
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
    const Command command = parse(app.arguments());
    if (!command.options) {
        write(command.exitCode == 0 ? stdout : stderr, command.text);
        return command.exitCode;
    }
    const Options *options = &*command.options;

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
