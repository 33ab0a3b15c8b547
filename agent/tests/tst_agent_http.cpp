// SPDX-License-Identifier: MIT
// Starts the real vantor-agent on loopback with fixture /proc and /sys trees and a fake systemctl, and
// reads its replies the way the console does.

#include "model/Snapshot.h"

#include <QDir>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>

using namespace Qt::StringLiterals;
using vantor::MetricsSnapshot;

class TestAgentHttp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_agent;
    int m_port = 0;
    QNetworkAccessManager m_network;

    QString writeFile(const QString &relative, const QByteArray &text,
                      QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner)
    {
        const QString path = m_dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        file.close();
        file.setPermissions(mode);
        return path;
    }
    // A reading through the console's own decoder; the query string is no part of the path.
    MetricsSnapshot poll()
    {
        QNetworkRequest request(QUrl(u"http://127.0.0.1:%1/metrics?x=1"_s.arg(m_port)));
        request.setTransferTimeout(5000);
        request.setRawHeader("X-Monitor-Token", "t0ken");
        QNetworkReply *reply = m_network.get(request);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!finished.wait(10000)) qFatal("no reply");
        reply->deleteLater();
        const auto decoded = vantor::decodeSnapshot(reply->readAll());
        if (!std::holds_alternative<MetricsSnapshot>(decoded)) qFatal("no reading");
        return std::get<MetricsSnapshot>(decoded);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const std::pair<QString, QByteArray> files[] = {
            {u"proc/stat"_s, "cpu 300 0 100 600 0 0 0 0 0 0\n"},
            {u"proc/meminfo"_s, "MemTotal: 4000 kB\nMemFree: 100 kB\nMemAvailable: 1000 kB\n"},
            {u"proc/uptime"_s, "86400.25 1000.00\n"},
            {u"proc/loadavg"_s, "0.75 0.5 0.25 1/99 7\n"},
            {u"proc/cpuinfo"_s, "processor : 0\nmodel name : Fixture CPU\nphysical id : 0\ncore id : 0\n"
                                "processor : 1\nmodel name : Fixture CPU\nphysical id : 0\ncore id : 0\n"},
            {u"proc/sys/kernel/hostname"_s, "fixture-host\n"},
            {u"sys/class/hwmon/hwmon0/name"_s, "coretemp\n"},
            {u"sys/class/hwmon/hwmon0/temp1_input"_s, "55000\n"}};
        for (const auto &[path, text] : files)
            writeFile(path, text);
        writeFile(u"bin/systemctl"_s,
                  "#!/bin/sh\nshift 2\nfor u; do [ $u = web.service ] && echo active || echo failed; done\n",
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString config = writeFile(u"agent.json"_s, QStringLiteral(R"({
            "listenAddress": "127.0.0.1", "token": "t0ken",
            "services": ["web.service", "db.service"],
            "thresholds": {"disk": {"warning": 1000, "critical": 1000}},
            "systemctl": "%1/bin/systemctl", "procRoot": "%1/proc", "sysRoot": "%1/sys", "rootPath": "%1"})")
                                                              .arg(m_dir.path())
                                                              .toUtf8());
        // The agent goes down with this test even when the test dies without cleaning up.
        m_agent.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_agent.start(QStringLiteral(VANTOR_AGENT_BINARY), {u"--config"_s, config, u"--port"_s, u"0"_s});
        const QRegularExpression listening(u"listening on 127\\.0\\.0\\.1 port (\\d+)"_s);
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT(
            (out += m_agent.readAllStandardOutput(), listening.match(QString::fromUtf8(out)).hasMatch()),
            10000);
        m_port = listening.match(QString::fromUtf8(out)).captured(1).toInt();
    }
    void cleanupTestCase()
    {
        m_agent.terminate();
        QVERIFY(m_agent.waitForFinished(5000));
        QCOMPARE(std::pair(m_agent.exitStatus(), m_agent.exitCode()), std::pair(QProcess::NormalExit, 0));
    }

    // The agent's figures arrive through the console's own decoder; an alert keeps its identity.
    void replyDecodesIntoACompleteReading()
    {
        const MetricsSnapshot m = poll();
        QCOMPARE(m.cpuUsage, 40.0); // since boot: 400 busy of 1000 ticks
        QCOMPARE(m.memoryUsage, 75.0);
        QVERIFY(m.diskUsage > 0 && m.diskUsage <= 100);
        QCOMPARE(m.uptimeSeconds, 86400.25);
        QCOMPARE((QList<qint64>{m.servicesRunning, m.servicesTotal}), (QList<qint64>{1, 2}));
        QVERIFY(qAbs(m.observedAt.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        QCOMPARE(m.alerts.size(), 1);
        QCOMPARE(m.alerts[0].title, u"服务未运行：db.service"_s);
        QVERIFY(m.hardware && m.network && m.network->addresses && m.hardware->storage->root);
        QCOMPARE(m.hardware->cpu->model, u"Fixture CPU"_s);
        QCOMPARE((QList<qint64>{m.hardware->cpu->threads.value_or(0), m.hardware->cpu->cores.value_or(0)}),
                 (QList<qint64>{2, 1}));
        QCOMPARE(m.hardware->cpu->temperatureC, 55.0);
        QCOMPARE(m.network->hostname, u"fixture-host"_s);

        QTest::qWait(1100);
        const auto next = poll().alerts;
        QCOMPARE(next.size(), 1);
        QCOMPARE(next[0].id, m.alerts[0].id);
        QCOMPARE(next[0].createdAt, m.alerts[0].createdAt);
    }
};

QTEST_GUILESS_MAIN(TestAgentHttp)
#include "tst_agent_http.moc"
