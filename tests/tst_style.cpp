// SPDX-License-Identifier: MIT
#include "FakeAgent.h"
#include "StoreFixture.h"
#include "app/ContentView.h"
#include "app/NodeSidebarRow.h"
#include "ui/NodeCard.h"
#include "ui/NodeDetailView.h"
#include "ui/StatusDot.h"
#include "ui/Style.h"

#include <QApplication>
#include <QLabel>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace vantor;
using namespace vantor::ui;
using namespace Qt::StringLiterals;

namespace {

// WCAG 2 relative luminance and contrast ratio.
double luminance(const QColor &c)
{
    auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A translucent fill as it shows over an opaque one.
QColor over(const QColor &top, const QColor &below)
{
    const double a = top.alphaF();
    auto mix = [a](double t, double b) { return a * t + (1 - a) * b; };
    return QColor::fromRgbF(float(mix(top.redF(), below.redF())), float(mix(top.greenF(), below.greenF())),
                            float(mix(top.blueF(), below.blueF())));
}

QString name(ColorScheme scheme)
{
    return scheme == ColorScheme::Dark ? u"dark"_s : u"light"_s;
}

double meanLightness(const QImage &image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); y += 4)
        for (int x = 0; x < image.width(); x += 4)
            sum += QColor(image.pixel(x, y)).lightnessF();
    return sum / ((image.height() + 3) / 4 * ((image.width() + 3) / 4));
}

} // namespace

// Delivers the updates and layout requests that a change posts, and the ones those post in turn.
void settle()
{
    for (int i = 0; i < 4; ++i)
        QCoreApplication::processEvents();
}

class TestStyle : public QObject
{
    Q_OBJECT

    std::unique_ptr<test::FakeAgent> agent;
    std::unique_ptr<test::TempNodeFiles> files;

    // A shown window after one refresh: an online, a warning and a critical node.
    std::unique_ptr<ContentView> window(bool detail)
    {
        auto view = std::make_unique<ContentView>(files->locations());
        view->resize(1180, 760);
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()) || !test::waitIdle(*view->store())) return nullptr;
        if (detail) QTest::mouseClick(view->findChildren<NodeSidebarRow *>().at(2), Qt::LeftButton);
        settle();
        // The only text that depends on the moment of the refresh.
        view->findChild<QLabel *>(u"updated"_s)->setText(u"更新于 10:00:00"_s);
        settle();
        return view;
    }

private Q_SLOTS:
    void initTestCase()
    {
        applyLook(*qApp);
        agent = std::make_unique<test::FakeAgent>();
        const QStringList severities[] = {{}, {u"warning"_s}, {u"warning"_s, u"critical"_s}};
        QList<ServerNode> nodes;
        for (int i = 0; i < 3; ++i) {
            const QString path = u"/n"_s + QString::number(i);
            agent->setRoute(path.toUtf8(),
                            {200, test::replyBody(test::sampleReading(20 + i, severities[i]))});
            nodes.append({path, u"节点 "_s + QString::number(i), agent->url(path), {}});
        }
        files = std::make_unique<test::TempNodeFiles>(nodes);
    }
    void init() { Appearance::instance()->setScheme(ColorScheme::Light); }

    // Every text colour of the look against every background it is drawn on: at least 4.5:1.
    void textContrast_data()
    {
        QTest::addColumn<ColorRole>("text");
        QTest::addColumn<QList<ColorRole>>("backgrounds"); // Selection lies over the sidebar
        using R = ColorRole;
        const QList<R> everywhere{R::WindowBackground, R::CardBackground, R::SidebarBackground,
                                  R::EditorBackground, R::Selection};
        QTest::newRow("primary") << R::PrimaryText << everywhere;
        QTest::newRow("secondary") << R::SecondaryText << everywhere;
        QTest::newRow("online") << R::GreenText << QList<R>{R::CardBackground, R::WindowBackground};
        QTest::newRow("warning") << R::OrangeText << QList<R>{R::CardBackground, R::WindowBackground};
        QTest::newRow("critical, errors") << R::RedText << QList<R>{R::CardBackground, R::WindowBackground};
        QTest::newRow("offline") << R::GrayText << QList<R>{R::CardBackground, R::WindowBackground};
        QTest::newRow("on the accent") << R::AccentText << QList<R>{R::Accent};
    }
    void textContrast()
    {
        QFETCH(ColorRole, text);
        QFETCH(QList<ColorRole>, backgrounds);
        for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
            for (ColorRole background : backgrounds) {
                QColor fill = color(background, scheme);
                if (background == ColorRole::Selection)
                    fill = over(fill, color(ColorRole::SidebarBackground, scheme));
                const double ratio = contrast(color(text, scheme), fill);
                QVERIFY2(ratio >= 4.5, qPrintable(u"%1 on background %2: %3:1"_s.arg(name(scheme))
                                                      .arg(int(background))
                                                      .arg(ratio, 0, 'f', 2)));
            }
        }
    }

    // The status texts that the screens draw, in each scheme and after a live switch; the dots keep
    // the status hue.
    void statusTexts_data()
    {
        QTest::addColumn<NodeStatus>("status");
        QTest::addColumn<ColorRole>("hue");
        QTest::newRow("online") << NodeStatus::online << ColorRole::Green;
        QTest::newRow("warning") << NodeStatus::warning << ColorRole::Orange;
        QTest::newRow("critical") << NodeStatus::critical << ColorRole::Red;
        QTest::newRow("offline") << NodeStatus::offline << ColorRole::Gray;
    }
    void statusTexts()
    {
        QFETCH(NodeStatus, status);
        QFETCH(ColorRole, hue);
        const NodeRuntime runtime{{u"a"_s, u"a"_s, {}, {}}, MetricsSnapshot::empty(), status, {}};
        NodeCard card;
        card.setRuntime(runtime);
        NodeDetailView page;
        page.setRuntime(runtime);
        for (ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark, ColorScheme::Light}) {
            Appearance::instance()->setScheme(scheme);
            for (const auto &[on, fill] : {std::pair<QWidget *, ColorRole>{&card, ColorRole::CardBackground},
                                           {&page, ColorRole::WindowBackground}}) {
                const QColor text =
                    on->findChild<QLabel *>(u"status"_s)->palette().color(QPalette::WindowText);
                const double ratio = contrast(text, color(fill));
                QVERIFY2(ratio >= 4.5, qPrintable(u"%1: %2:1"_s.arg(name(scheme)).arg(ratio)));
            }
            QCOMPARE(card.findChild<StatusDot *>()->color(), color(hue));
        }
    }

    // Switching live gives the same pixels as a window opened in the new scheme.
    void liveSwitch_data()
    {
        QTest::addColumn<bool>("detail");
        QTest::newRow("overview") << false;
        QTest::newRow("node detail") << true;
    }
    void liveSwitch()
    {
        QFETCH(bool, detail);
        auto first = window(detail);
        QVERIFY(first);
        const QImage light = first->grab().toImage();
        Appearance::instance()->setScheme(ColorScheme::Dark);
        const QImage switched = first->grab().toImage();
        first.reset();

        auto second = window(detail);
        QVERIFY(second);
        const QImage dark = second->grab().toImage();
        QVERIFY2(meanLightness(light) > 0.8 && meanLightness(dark) < 0.25,
                 qPrintable(u"%1 / %2"_s.arg(meanLightness(light)).arg(meanLightness(dark))));
        QVERIFY(switched == dark);
        Appearance::instance()->setScheme(ColorScheme::Light);
        QVERIFY(second->grab().toImage() == light);
    }
};

QTEST_MAIN(TestStyle)
#include "tst_style.moc"
