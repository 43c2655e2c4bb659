#include "viewer/ViewerFixture.h"

#include <QKeyEvent>
#include <QTest>

namespace {

using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

class ViewerKeys : public ViewerWindow {
protected:
    void Send(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, quint32 scan,
              quint32 native) {
        QKeyEvent event(type, key, modifiers, scan, native, 0);
        QApplication::sendEvent(m_form.get(), &event);
    }
    // Left Shift as X11 reports it: key symbol 0xffe1, scan code 50.
    void LeftShift(QEvent::Type type) {
        Send(type, Qt::Key_Shift, type == QEvent::KeyPress ? Qt::ShiftModifier : Qt::NoModifier, 50,
             0xffe1);
    }
    void RightShift(QEvent::Type type) {
        Send(type, Qt::Key_Shift, type == QEvent::KeyPress ? Qt::ShiftModifier : Qt::NoModifier, 62,
             0xffe2);
    }
};

// Both Shift keys turn, also as XTEST tools type right Shift: wrapped in left Shift.
TEST_F(ViewerKeys, RightShiftTurnsRightAlsoWhenWrappedInLeftShift) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    RightShift(QEvent::KeyPress);
    RightShift(QEvent::KeyRelease);
    EXPECT_EQ(m_form->Zoom.RotationAngle, -90);
    LeftShift(QEvent::KeyPress);
    RightShift(QEvent::KeyPress);
    LeftShift(QEvent::KeyRelease);
    RightShift(QEvent::KeyRelease);
    EXPECT_EQ(m_form->Zoom.RotationAngle, -180);
}

TEST_F(ViewerKeys, LoneShiftTurnsOnReleaseButNotWhenHeldForAnotherKey) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));

    LeftShift(QEvent::KeyPress);
    EXPECT_EQ(m_form->Zoom.RotationAngle, 0) << "nothing happens while the key is down";
    LeftShift(QEvent::KeyRelease);
    EXPECT_EQ(m_form->Zoom.RotationAngle, 90);

    // Shift held for another key (Shift+F runs nothing): no turn when it comes up.
    LeftShift(QEvent::KeyPress);
    Send(QEvent::KeyPress, Qt::Key_F, Qt::ShiftModifier, 41, 'F');
    Send(QEvent::KeyRelease, Qt::Key_F, Qt::ShiftModifier, 41, 'F');
    LeftShift(QEvent::KeyRelease);
    EXPECT_EQ(m_form->Zoom.RotationAngle, 90);
}

} // namespace
