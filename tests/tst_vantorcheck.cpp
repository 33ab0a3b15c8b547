// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <sys/stat.h>

using namespace vantor;
using namespace vantor::test;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out, err;
};

// Runs a program while this process's event loop keeps serving the fake agents.
Run runTool(const QStringList &args, const QByteArray &input, const QProcessEnvironment &env,
            const QString &program = u"vantor-check"_s)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationDirPath() + u"/../src/"_s + program, args);
    process.write(input);
    process.closeWriteChannel();
    if (!finished.wait(15000)) process.kill();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

} // namespace

class VantorCheckTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each case runs twice, for the text and the JSON verdict.
    void verdicts_data()
    {
        QTest::addColumn<QString>("args");        // URL: the agent; FILE: a file holding the body
        QTest::addColumn<QByteArray>("body");     // the agent's reply, FILE's contents and standard input
        QTest::addColumn<QString>("environment"); // VANTOR_TOKEN; empty: not set
        QTest::addColumn<QByteArray>("sent");     // the token header's value; empty: no header
        QTest::addColumn<QString>("message");     // empty: the reply is good; else the agent answers 401
        const QString wrong = u"HTTP 响应异常"_s;
        MetricsSnapshot reading = sampleReading(12.25, {u"warning"_s});
        reading.notices = QList<ServerAlert>{};
        const QByteArray good = replyBody(reading);
        QTest::newRow("token option over environment")
            << u"--token=mine URL"_s << QByteArray("{}") << u"env"_s << QByteArray("mine") << wrong;
        QTest::newRow("token file over environment, line break dropped, blanks kept")
            << u"--token-file FILE URL"_s << QByteArray(" s3 cret \r\n") << u"env"_s
            << QByteArray(" s3 cret ") << wrong;
        QTest::newRow("token from environment")
            << u"URL"_s << QByteArray("{}") << u"env"_s << QByteArray("env") << wrong;
        QTest::newRow("good reply, no token") << u"URL"_s << good << QString() << QByteArray() << QString();
        QTest::newRow("bad body from a file")
            << u"--file FILE"_s << QByteArray(R"({"cpuUsage": "high"})") << QString() << QByteArray()
            << u"$.cpuUsage: expected a number"_s;
        QTest::newRow("good body from standard input")
            << u"--file -"_s << good << QString() << QByteArray() << QString();
    }

    void verdicts()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, body);
        QFETCH(QString, environment);
        QFETCH(QByteArray, sent);
        QFETCH(QString, message);
        FakeAgent agent;
        agent.answer(message.isEmpty() ? 200 : 401, body);
        QTemporaryFile file;
        QVERIFY(file.open() && file.write(body) == body.size());
        file.close();
        QStringList arguments = args.split(u' ');
        arguments.replaceInStrings(u"URL"_s, agent.url()).replaceInStrings(u"FILE"_s, file.fileName());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"VANTOR_TOKEN"_s);
        if (!environment.isEmpty()) env.insert(u"VANTOR_TOKEN"_s, environment);
        const QByteArray input = args.endsWith(u'-') ? body : QByteArray();
        const bool polled = args.endsWith(u"URL"_s);

        const Run text = runTool(arguments, input, env);
        const Run json = runTool(arguments + QStringList{u"--json"_s}, input, env);
        const QJsonObject out = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(text.exitCode, message.isEmpty() ? 0 : 1);
        QCOMPARE(json.exitCode, text.exitCode);
        if (message.isEmpty()) {
            QVERIFY2(text.out.startsWith("status: warning\ncpuUsage: 12.25\n"), text.out);
            QVERIFY(text.out.contains(u"[warning] 标题 — 说明"_s.toUtf8()));
            QCOMPARE(out, (QJsonObject{{u"ok"_s, true},
                                       {u"status"_s, u"warning"_s},
                                       {u"reading"_s, QJsonDocument::fromJson(body).object()}}));
        } else {
            QJsonObject expected{{u"ok"_s, false}, {u"error"_s, message}};
            if (polled) expected.insert(u"httpStatus"_s, 401);
            QCOMPARE(QString::fromUtf8(text.out), message + (polled ? u"\nHTTP status: 401\n"_s : u"\n"_s));
            QCOMPARE(out, expected);
        }
        QCOMPARE(agent.requests().size(), polled ? 2 : 0);
        for (const auto &request : agent.requests())
            QCOMPARE(request.header("X-Monitor-Token"), sent.isEmpty() ? std::nullopt : std::optional(sent));
    }

    // Refused before any request, and the checker still ends: the verdict comes after the event loop
    // has started.
    void refusedAddress_data()
    {
        QTest::addColumn<QString>("address"); // %1: the agent's port
        QTest::addColumn<QString>("message");
        QTest::newRow("space") << u"http://h/a b"_s << u"地址格式无效"_s;
        QTest::newRow("user info") << u"http://u:p@127.0.0.1:%1/metrics"_s
                                   << u"地址不能含有用户名或密码（user:password@）"_s;
    }
    void refusedAddress()
    {
        QFETCH(QString, address);
        QFETCH(QString, message);
        FakeAgent agent;
        const Run run = runTool({QString(address).replace(u"%1"_s, QString::number(agent.port()))}, {},
                                QProcessEnvironment::systemEnvironment());
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromUtf8(run.out), message + u'\n');
        QCOMPARE(agent.requests().size(), 0);
    }

    // Help and version print and end without a display: a window, or even a connection to a display,
    // would fail. Usage errors print to standard error only and end with 2.
    void commandLine_data()
    {
        QTest::addColumn<QString>("args"); // the program, then its arguments
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("printed"); // a line of standard output
        QTest::newRow("console help")
            << u"vantor --help"_s << 0 << u"  -v, --version  Show the version and exit."_s;
        QTest::newRow("console version") << u"vantor --version"_s << 0 << u"vantor " VANTOR_VERSION ""_s;
        QTest::newRow("check help")
            << u"vantor-check -h"_s << 0
            << u"  URL                  The agent's address, e.g. http://127.0.0.1:9100/metrics"_s;
        QTest::newRow("check version")
            << u"vantor-check --version"_s << 0 << u"vantor-check " VANTOR_VERSION ""_s;
        const QString url = u" http://127.0.0.1:1/"_s;
        for (const auto &[name, args] : std::initializer_list<std::pair<const char *, QString>>{
                 {"nothing", {}},
                 {"unknown option", u" --verbose"_s + url},
                 {"two URLs", url + url},
                 {"missing file", u" --file /nonexistent/reply.json"_s},
                 {"token twice", u" --token=a --token=b"_s + url},
                 {"token and token file", u" --token a --token-file /dev/null"_s + url},
                 {"token for a file", u" --token-file /dev/null --file -"_s},
                 {"missing token file", u" --token-file /nonexistent/token"_s + url}})
            QTest::newRow(name) << u"vantor-check"_s + args << 2 << QString();
        QTest::newRow("console with an argument") << u"vantor --json"_s << 2 << QString();
        QTest::newRow("console with Qt's options") << u"vantor -platform offscreen -style=fusion --help"_s
                                                   << 0 << u"  -h, --help     Show this help and exit."_s;
        // A FIFO without a writer is refused at once; opened for reading, it would wait for ever.
        static const QTemporaryDir dir;
        const QString fifo = dir.filePath(u"fifo"_s);
        ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
        QTest::newRow("FIFO as the file") << u"vantor-check --file "_s + fifo << 2 << QString();
        QTest::newRow("FIFO as the token file")
            << u"vantor-check --token-file "_s + fifo + url << 2 << QString();
    }

    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(int, exitCode);
        QFETCH(QString, printed);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"WAYLAND_DISPLAY"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        const QStringList words = args.split(u' ', Qt::SkipEmptyParts);
        const Run run = runTool(words.mid(1), {}, env, words[0]);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out.isEmpty(), printed.isEmpty());
        QCOMPARE(run.err.isEmpty(), exitCode == 0);
        if (!printed.isEmpty()) QVERIFY2(QString::fromUtf8(run.out).split(u'\n').contains(printed), run.out);
    }
};

QTEST_GUILESS_MAIN(VantorCheckTest)
#include "tst_vantorcheck.moc"
