#include "app/AppContext.h"
#include "app/SettingsLayout.h"
#include "common/TestSupport.h"
#include "platform/Registry.h"
#include "viewer/FormVekMain.h"

#include <gtest/gtest.h>

#include <QApplication>

namespace {

void SetNewFileName(const QString& name) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(layout::kProgramKey, true));
    reg.WriteString(layout::kNewFileName, name);
    reg.CloseKey();
}

TEST(MainFormHandOff, HiddenViewerDoesNotAnswer) {
    TAppContext context;
    TMainForm form(context);
    SetNewFileName("/tmp/x.jpg");
    EXPECT_EQ(form.HandOffMessage(), 0u);
    EXPECT_FALSE(form.OpenViewerTimer.Enabled());
    pictrel::test::PumpFor(30);
    EXPECT_TRUE(form.OpenedFiles().isEmpty());
}

TEST(MainFormHandOff, VisibleViewerAnswers13AndOpensFromItsTimer) {
    TAppContext context;
    TMainForm form(context);
    form.show();
    const QString name = QString::fromUtf8("/tmp/Ordner mit Leerzeichen/ü \"q\".jpg");
    SetNewFileName(name);
    EXPECT_EQ(form.HandOffMessage(), 13u);
    // Not inside the handler: the 1 ms timer opens it.
    EXPECT_TRUE(form.OpenedFiles().isEmpty());
    EXPECT_EQ(form.FileToOpen, name);
    EXPECT_TRUE(form.OpenViewerTimer.Enabled());
    EXPECT_TRUE(form.MessageTimer.Enabled());
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !form.OpenedFiles().isEmpty(); }, 5000));
    EXPECT_EQ(form.OpenedFiles(), QStringList{name});
    EXPECT_TRUE(pictrel::test::PumpUntil([&] { return !form.MessageTimer.Enabled(); }, 5000));
    EXPECT_FALSE(form.OpenViewerTimer.Enabled());
}

} // namespace
