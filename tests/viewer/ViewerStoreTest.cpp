// The viewer's values reach the store when they change, merged with what other
// Pictrel processes stored: nothing the user did waits for a clean exit.
#include "app/FileHelpers.h"
#include "app/RotateAngleList.h"
#include "app/StoreFailure.h"
#include "platform/RegistryHive.h"
#include "viewer/ViewerFixture.h"

#include <QAction>
#include <QDir>
#include <QFile>

namespace {

using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

constexpr std::size_t kHistogram = 1, kInfo = 6;

class ViewerStore : public ViewerWindow {};

// Stored when made, so a kill -9 a moment later loses nothing.
TEST_F(ViewerStore, ATurnIsInTheFileAsSoonAsItIsMade) {
    WritePicture(Path("a.png"), 0xFFFF0000);
    m_form->OpenFile(Path("a.png"));
    ASSERT_TRUE(WaitShown("a.png"));
    m_form->Actions.RotateLeftAction->trigger();
    TRotateAngleList stored;
    ASSERT_TRUE(stored.LoadFromFile(DataFolder() + "RotateAngles"));
    EXPECT_EQ(stored.Angle(Path("a.png")), 90);
}

// Two viewers (as two processes would hold them) change one wish each; whichever
// closes last, both wishes are stored.
TEST_F(ViewerStore, TwoViewersKeepEachOthersChangesInEitherClosingOrder) {
    for (const bool firstClosesFirst : {true, false}) {
        m_form->Panels->ShowPanels = {};
        m_form->WriteSettingsThrough();
        Restart();
        TAppContext otherContext;
        auto other = std::make_unique<TMainForm>(otherContext);
        m_form->Panels->ShowPanels[kInfo] = true;
        other->Panels->ShowPanels[kHistogram] = true;
        if (firstClosesFirst) {
            m_form.reset();
            other.reset();
        } else {
            other.reset();
            m_form.reset();
        }
        Restart();
        EXPECT_TRUE(m_form->Panels->ShowPanels[kInfo]) << firstClosesFirst;
        EXPECT_TRUE(m_form->Panels->ShowPanels[kHistogram]) << firstClosesFirst;
    }
}

TEST_F(ViewerStore, AFailedSaveIsToldOncePerRun) {
    QStringList told;
    ResetStoreFailureShown();
    SetStoreFailureHandler([&](const QString& message) { told.append(message); });
    const QString hive =
        TRegistryHive::Folder() + '/' + TRegistryHive::RootName(TRegRoot::rrCurrentUser) + ".reg";
    QFile::remove(hive);
    ASSERT_TRUE(QDir().mkpath(hive)); // a folder where the store should be written
    m_form->Panels->ShowPanels[kInfo] = !m_form->Panels->ShowPanels[kInfo];
    m_form->WriteSettingsThrough();
    m_form->Panels->ShowPanels[kHistogram] = !m_form->Panels->ShowPanels[kHistogram];
    m_form->WriteSettingsThrough();
    ASSERT_TRUE(QDir(hive).removeRecursively());
    SetStoreFailureHandler(nullptr);
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith("Settings could not be saved: ")) << told[0].toStdString();
}

} // namespace
