// SPDX-License-Identifier: MIT
#include "store/NodeFiles.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantor;
using namespace Qt::StringLiterals;

namespace {

// In the order they are tried.
const QStringList places{u"004Varnel/config/nodes.json"_s, u"Vantor/config/nodes.json"_s,
                         u"resource/nodes.json"_s};

// A node file in the bare form, or in the record form when an interval is given.
QByteArray nodeFile(const QStringList &ids, const QByteArray &interval = {})
{
    QStringList nodes;
    for (const QString &id : ids)
        nodes << uR"({"id":"%1","name":"N%1","address":"http://127.0.0.1:1/metrics","token":"","extra":1})"_s
                     .arg(id);
    const QByteArray list = '[' + nodes.join(u',').toUtf8() + ']';
    return interval.isNull() ? list : "{\"refresh_interval\":" + interval + ",\"nodes\":" + list + "}";
}

} // namespace

class TestNodeFiles : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_where = NodeLocations{m_dir->path(), m_dir->filePath(places[2])};
    }

    void load_data()
    {
        QTest::addColumn<QList<QByteArray>>("files"); // for the places in order; empty: no file
        QTest::addColumn<QStringList>("expected");
        const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
        const QStringList five{u"1"_s, u"2"_s, u"3"_s, u"4"_s, u"5"_s};
        QTest::newRow("nothing: the fallback") << QList<QByteArray>{} << QStringList{u"fb"_s};
        QTest::newRow("first, five nodes, wins over saved")
            << QList<QByteArray>{nodeFile(five), nodeFile(abc)} << five;
        QTest::newRow("interval of wrong kind and empty record passed over, null interval taken")
            << QList<QByteArray>{nodeFile(five, "\"30\""), nodeFile({}, "30"), nodeFile(abc, "null")} << abc;
        QTest::newRow("malformed passed over") << QList<QByteArray>{"[{", "\xff\xfe", nodeFile(abc)} << abc;
    }

    void load()
    {
        QFETCH(QList<QByteArray>, files);
        QFETCH(QStringList, expected);
        for (qsizetype i = 0; i < files.size(); ++i)
            if (!files[i].isEmpty()) write(places[i], files[i]);
        QStringList got;
        for (const ServerNode &n : loadNodes(m_where, {{u"fb"_s, u"fb"_s, {}, {}}}))
            got << n.id;
        QCOMPARE(got, expected);
    }

    // An array of records with the keys in order, one to a line, owner-only even over a wider file.
    // A failed write keeps the earlier file and leaves nothing behind.
    void save()
    {
        write(places[1], nodeFile({u"old"_s}));
        QFile f(m_dir->filePath(places[1]));
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        const QList<ServerNode> nodes{{u"b/1"_s, u"节点 \"一\""_s, u"http://127.0.0.1:9/metrics"_s, u" "_s},
                                      {u"a"_s, u"A"_s, QString(), QString()}};
        QVERIFY(persist(m_where, nodes));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().startsWith(
            "[\n    {\n        \"address\": \"http://127.0.0.1:9/metrics\",\n        \"id\": "
            "\"b/1\",\n        \"name\": \"节点 \\\"一\\\"\",\n        \"token\": \" \"\n    },"));
        QCOMPARE(loadNodes(m_where, {}), nodes);
        QVERIFY(!(f.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));

        // A file-size limit makes the write fail even for root, who ignores permissions.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const rlimit small{16, old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &small);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^node list not saved to .*nodes.json: "_s));
        const bool written = persist(m_where, {{u"lost"_s, u"l"_s, u"a"_s, u"t"_s}});
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QCOMPARE(loadNodes(m_where, {}), nodes);
        QCOMPARE(QDir(m_dir->filePath(u"Vantor/config"_s)).entryList(QDir::Files),
                 QStringList{u"nodes.json"_s});

        // Without a support directory there is nowhere to save, and only the resource file is read.
        const NodeLocations resourceOnly{std::nullopt, m_where.resourceFile};
        QTest::ignoreMessage(QtWarningMsg, "node list not saved: there is no per-user data folder");
        QVERIFY(!persist(resourceOnly, nodes));
        write(places[2], nodeFile({u"r"_s}));
        QCOMPARE(loadNodes(resourceOnly, {}).value(0).id, u"r"_s);
    }

    // Only regular files within the size limit are read: a FIFO without a writer is refused at once,
    // a folder is refused, and a huge sparse file is passed over without its bytes ever being read
    // (the peak memory does not grow by its size). Each is logged with its path and reason.
    void boundedReads()
    {
        const QString fifo = m_dir->filePath(places[0]);
        QDir().mkpath(QFileInfo(fifo).absolutePath());
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        auto refused = std::async(std::launch::async, [&] { return readRegularFile(fifo, 100); });
        if (refused.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ::close(::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK)); // lets it go
            QFAIL("reading a FIFO waited for a writer");
        }
        QCOMPARE(std::get<QString>(refused.get()), u"is a FIFO (named pipe), not a regular file"_s);
        QCOMPARE(std::get<QString>(readRegularFile(m_dir->path(), 100)), u"is a folder, not a file"_s);

        write(u"small"_s, QByteArray(100, 'x'));
        QCOMPARE(std::get<QByteArray>(readRegularFile(m_dir->filePath(u"small"_s), 100)).size(), 100);
        QCOMPARE(std::get<QString>(readRegularFile(m_dir->filePath(u"small"_s), 99)),
                 u"larger than 99 bytes"_s);

        QDir().mkpath(QFileInfo(m_dir->filePath(places[1])).absolutePath());
        QFile huge(m_dir->filePath(places[1]));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 30)); // sparse: no disk used
        huge.close();
        write(places[2], nodeFile({u"r"_s}));
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^passed over node file .*004Varnel/config/"
                                                              u"nodes.json: is a FIFO"_s));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^passed over node file .*Vantor/config/"
                                                              u"nodes.json: larger than 8388608 bytes$"_s));
        QCOMPARE(loadNodes(m_where, {}).value(0).id, u"r"_s);
        getrusage(RUSAGE_SELF, &after);
        QVERIFY2(after.ru_maxrss - before.ru_maxrss < 64 * 1024,
                 qPrintable(u"peak grew by %1 KiB"_s.arg(after.ru_maxrss - before.ru_maxrss)));
    }

private:
    void write(const QString &relative, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(m_dir->filePath(relative)).absolutePath());
        QFile f(m_dir->filePath(relative));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    NodeLocations m_where;
};

QTEST_GUILESS_MAIN(TestNodeFiles)
#include "tst_nodefiles.moc"
