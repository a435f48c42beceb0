// Pop/dock frame: moving a panel into its own window and back.
#include "display/closable_base.h"
#include "display/pop_dock_base.h"
#include "tests/test_registry.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class PopDockTest : public QObject {
    Q_OBJECT
private slots:
    void form();
    void buttonTogglesTwice();
    void closingTheWindowDocks();
    void withoutContentOnlyTheWindow();
    void explicitMoves();
    void closableBaseSignalsClose();
};

namespace {
struct Docked {
    PopDockBase frame;
    QLineEdit *panel = new QLineEdit;
    QPushButton *button = nullptr;
    Docked()
    {
        panel->setText("kept state");
        frame.setContent(panel);
        frame.dockLayout()->addWidget(panel);
        frame.popWindow()->setWindowTitle("CT Calc2 3");
        frame.show();
        button = frame.findChild<QPushButton *>("PopDock");
    }
    bool docked() const { return panel->parentWidget() == &frame && frame.popWindow()->isHidden(); }
    bool popped() const
    {
        return panel->parentWidget() == frame.popWindow() && frame.popWindow()->isVisible();
    }
};
} // namespace

void PopDockTest::form()
{
    PopDockBase f;
    QCOMPARE(f.objectName(), QString("PopDockBase"));
    auto *b = f.findChild<QPushButton *>("PopDock");
    QVERIFY(b);
    QCOMPARE(b->text(), QString("Pop/Dock"));
    QCOMPARE(f.dockLayout()->objectName(), QString("Layout"));
    QVERIFY(f.popWindow());
    QVERIFY(!f.popWindow()->parent());
    QCOMPARE(f.popWindow()->size(), QSize(500, 500));
    QVERIFY(f.popWindow()->isHidden());
}

void PopDockTest::buttonTogglesTwice()
{
    Docked d;
    QVERIFY(d.button);
    QVERIFY(d.docked());
    QTest::mouseClick(d.button, Qt::LeftButton);
    QVERIFY(d.popped());
    QCOMPARE(d.frame.popWindow()->windowTitle(), QString("CT Calc2 3"));
    QTRY_VERIFY(d.panel->isVisible()); // the layout shows it again
    QTest::mouseClick(d.button, Qt::LeftButton);
    QVERIFY(d.docked());
    QTRY_VERIFY(d.panel->isVisible());
    QCOMPARE(d.panel->text(), QString("kept state"));
    // The frame keeps its button while the panel is out.
    QTest::mouseClick(d.button, Qt::LeftButton);
    QVERIFY(d.button->isVisible());
}

void PopDockTest::closingTheWindowDocks()
{
    Docked d;
    QTest::mouseClick(d.button, Qt::LeftButton);
    QVERIFY(d.popped());
    QVERIFY(d.frame.popWindow()->close());
    QVERIFY(d.docked());
    QTRY_VERIFY(d.panel->isVisible());
    // The next press opens the window again.
    QTest::mouseClick(d.button, Qt::LeftButton);
    QVERIFY(d.popped());
}

void PopDockTest::withoutContentOnlyTheWindow()
{
    PopDockBase f;
    f.show();
    auto *b = f.findChild<QPushButton *>("PopDock");
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(f.popWindow()->isVisible());
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(f.popWindow()->isHidden());
    f.moveToPopBase();
    f.moveToDockBase();
    QCOMPARE(f.popLayout()->count(), 0);
}

void PopDockTest::explicitMoves()
{
    Docked d;
    d.frame.moveToPopBase();
    QCOMPARE(d.panel->parentWidget(), d.frame.popWindow());
    QCOMPARE(d.frame.dockLayout()->count(), 0);
    d.frame.moveToDockBase();
    QCOMPARE(d.panel->parentWidget(), &d.frame);
    QCOMPARE(d.frame.dockLayout()->count(), 1);
    QCOMPARE(d.frame.popLayout()->count(), 0);
}

void PopDockTest::closableBaseSignalsClose()
{
    ClosableBase w;
    QVERIFY(!w.parent());
    QSignalSpy spy(&w, &ClosableBase::closed);
    w.show();
    QVERIFY(w.close());
    QCOMPARE(spy.count(), 1);
    QVERIFY(!w.isVisible());
}

VORLO_TEST(PopDockTest)
#include "pop_dock_test.moc"
