// SPDX-License-Identifier: MIT
#include "StoreFixture.h"
#include "ui/SettingsView.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextCursor>
#include <QtTest>

#include <memory>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

namespace {

const QString countMessage = u"请配置恰好 3 台服务器"_s;

// Closed loopback ports: a live poll started by a save fails at once and never leaves the machine.
QList<ServerNode> loopbackNodes()
{
    return {{u"a"_s, u"甲"_s, u"http://127.0.0.1:9/metrics"_s, u"ta"_s},
            {u"b"_s, u"乙"_s, u"http://127.0.0.1:9/metrics"_s, u"tb"_s},
            {u"c"_s, u"丙"_s, u"http://[::1]:9/metrics"_s, u""_s}};
}

QString nodeObject(const QString &id)
{
    return u"{\"id\": \"%1\", \"name\": \"n\", \"address\": \"http://127.0.0.1:9/metrics\", \"token\": \"\"}"_s
        .arg(id);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::TempNodeFiles> files;
    std::unique_ptr<MonitorStore> store;
    std::unique_ptr<QWidget> window;
    SettingsView *sheet = nullptr;

    QPlainTextEdit *editor() const { return sheet->findChild<QPlainTextEdit *>(u"config"_s); }
    QCheckBox *toggle() const { return sheet->findChild<QCheckBox *>(u"demoMode"_s); }
    QLabel *errorLine() const { return sheet->findChild<QLabel *>(u"error"_s); }
    void present()
    {
        sheet->open();
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
    }
    void save() { sheet->findChild<QPushButton *>(u"save"_s)->click(); }

private Q_SLOTS:
    void init()
    {
        files = std::make_unique<test::TempNodeFiles>(loopbackNodes());
        store = std::make_unique<MonitorStore>(files->locations());
        window = std::make_unique<QWidget>();
        window->resize(800, 600);
        window->show();
        sheet = new SettingsView(store.get(), window.get());
    }
    void cleanup()
    {
        window.reset();
        if (store) test::waitIdle(*store);
        store.reset();
    }

    // Tab leaves the editor instead of typing a tab; Enter keeps the line's indentation of spaces.
    void editorKeys()
    {
        present();
        editor()->setPlainText(u"[\n    {"_s);
        editor()->moveCursor(QTextCursor::End);
        editor()->setFocus();
        QTRY_VERIFY(editor()->hasFocus());
        QTest::keyClick(editor(), Qt::Key_Return);
        QTest::keyClicks(editor(), u"\"id\""_s);
        QCOMPARE(editor()->toPlainText(), u"[\n    {\n    \"id\""_s);
        QTest::keyClick(editor(), Qt::Key_Tab);
        QVERIFY(!editor()->hasFocus());
        QVERIFY(!editor()->toPlainText().contains(u'\t'));
    }

    // The reader's message, however long, wraps within the sheet's width; a path longer than a
    // line never widens the sheet.
    void longErrorWraps()
    {
        present();
        const int width = sheet->width();
        editor()->setPlainText(u"[{\"id\": 1}]"_s);
        save();
        QVERIFY(!errorLine()->isHidden() && errorLine()->text() != countMessage);
        errorLine()->setText(u"$."_s + QString(300, u'x') + u": expected a string, "_s.repeated(20));
        sheet->adjustSize();
        QCoreApplication::processEvents();
        QCOMPARE(sheet->width(), width);
        QVERIFY(errorLine()->geometry().right() < width);
        QVERIFY(errorLine()->height() > 3 * errorLine()->fontMetrics().height());
    }

    // While open, the sheet keeps its working copies whatever the store publishes; each presentation
    // loads afresh, so cancelled edits are gone.
    void loadsEachTime()
    {
        present();
        const QString first = editor()->toPlainText();
        QCOMPARE(std::get<QList<ServerNode>>(decodeNodeList(first.toUtf8())), loopbackNodes());
        const QList<qsizetype> keys = {first.indexOf(u"\"address\""_s), first.indexOf(u"\"id\""_s),
                                       first.indexOf(u"\"name\""_s), first.indexOf(u"\"token\""_s)};
        QVERIFY(std::is_sorted(keys.begin(), keys.end()) && keys.first() >= 0);
        QVERIFY(first.count(u'\n') > 12); // one member per line

        editor()->setPlainText(u"[]"_s);
        QList<ServerNode> renamed = loopbackNodes();
        renamed[0].name = u"changed"_s;
        store->apply(renamed, true);
        QCoreApplication::processEvents();
        QCOMPARE(editor()->toPlainText(), u"[]"_s);
        QVERIFY(!toggle()->isChecked());
        sheet->reject();
        present();
        QCOMPARE(editor()->toPlainText(), QString(first).replace(u"甲"_s, u"changed"_s));
        QVERIFY(toggle()->isChecked());
    }

    void rejected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message"); // exact text, or "~part" for a reader's description
        const QString one = nodeObject(u"x"_s);
        QTest::newRow("two nodes") << u"[%1, %1]"_s.arg(one) << countMessage;
        QTest::newRow("four nodes") << u"[%1, %1, %1, %1]"_s.arg(one) << countMessage;
        QTest::newRow("id as a number")
            << u"[%1, %1, {\"id\": 7, \"name\": \"n\", \"address\": \"a\", \"token\": \"\"}]"_s.arg(one)
            << u"~id"_s;
        QTest::newRow("whole file record")
            << u"{\"refresh_interval\": 10, \"nodes\": [%1, %1, %1]}"_s.arg(one) << u"~array"_s;
        // The place of a syntax error counts characters, so Chinese before it does not shift it.
        QTest::newRow("error after Chinese") << u"[\n  {\"name\": \"东京节点\", \"id\": tru}\n]"_s
                                             << u"~JSON syntax error at line 2, column 29"_s;
        QTest::newRow("unterminated after Chinese") << u"[\n\"东京"_s << u"~at line 2, column 4"_s;
        QTest::newRow("lone surrogate") << u"[\""_s + QChar(0xD800) + u"\"]"_s << u"JSON 编码失败"_s;
    }
    // A refused save keeps the sheet open with the operator's text and applies nothing.
    void rejected()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        const QByteArray fileBefore = files->savedFile();
        const QList<NodeRuntime> nodesBefore = store->nodes();
        QSignalSpy changes(store.get(), &MonitorStore::objectWillChange);
        present();
        editor()->setPlainText(text);
        toggle()->setChecked(true);
        save();

        QVERIFY(sheet->isVisible() && errorLine()->isVisibleTo(sheet));
        const QString shown = errorLine()->text();
        if (message.startsWith(u'~'))
            QVERIFY2(!shown.isEmpty() && shown != countMessage && shown.contains(message.mid(1)),
                     qPrintable(shown));
        else
            QCOMPARE(shown, message);
        QCOMPARE(editor()->toPlainText(), text);
        QCOMPARE(changes.count(), 0);
        QCOMPARE(store->nodes(), nodesBefore);
        QVERIFY(!store->demoMode());
        QCOMPARE(files->savedFile(), fileBefore);
    }

    // A failed save, then a corrected one closes; the next presentation shows no stale message, and
    // unknown members passed the sheet but are gone.
    void errorClearedByReopening()
    {
        present();
        QString good = editor()->toPlainText();
        good.replace(u"\"token\""_s, u"\"port\": 9100, \"tags\": [1], \"token\""_s);
        good.replace(u"\"甲\""_s, u"\"甲-新\""_s);
        editor()->setPlainText(u"[]"_s);
        save();
        QCOMPARE(errorLine()->text(), countMessage);
        editor()->setPlainText(u"{}"_s);
        save();
        QVERIFY(errorLine()->text() != countMessage); // a new failure replaces the message
        editor()->setPlainText(good);
        save();
        QVERIFY(!sheet->isVisible());
        QCOMPARE(sheet->result(), int(QDialog::Accepted));
        QCOMPARE(store->nodes().first().node.name, u"甲-新"_s);
        present();
        QVERIFY(!errorLine()->isVisibleTo(sheet));
        QVERIFY(!editor()->toPlainText().contains(u"port"_s) && editor()->toPlainText().contains(u"甲-新"_s));
    }

    void dismissed_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("cancel button") << 0;
        QTest::newRow("escape key") << 1;
        QTest::newRow("sheet closed") << 2;
        QTest::newRow("window closed") << 3;
    }
    void dismissed()
    {
        QFETCH(int, how);
        const QByteArray fileBefore = files->savedFile();
        present();
        editor()->setPlainText(u"[%1, %1, %1]"_s.arg(nodeObject(u"z"_s)));
        toggle()->setChecked(true);
        if (how == 0) {
            for (QPushButton *b : sheet->findChildren<QPushButton *>())
                if (b->text() == u"取消"_s) b->click();
        }
        if (how == 1) QTest::keyClick(editor(), Qt::Key_Escape);
        if (how == 2) sheet->close();
        if (how == 3) window.reset(); // the sheet goes with its window
        if (how != 3) QVERIFY(!sheet->isVisible());
        QCOMPARE(store->nodes().first().node.id, u"a"_s);
        QVERIFY(!store->demoMode());
        QCOMPARE(files->savedFile(), fileBefore);
    }

    // Saving the unchanged list with only the toggle flipped switches to demo readings at once and
    // rewrites the node file.
    void toggleAlone()
    {
        QFile::remove(files->locations().saveFile());
        present();
        toggle()->setChecked(true);
        save();
        QVERIFY(!sheet->isVisible() && store->demoMode());
        QCOMPARE(store->tick(), 1);
        QVERIFY(store->lastUpdated().has_value());
        QVERIFY(store->nodes().first().metrics.cpuUsage > 0);
        QCOMPARE(std::get<QList<ServerNode>>(decodeNodeList(files->savedFile())), loopbackNodes());
        present();
        QVERIFY(toggle()->isChecked());
    }
};

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
