#include "platform/StoreSnapshot.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString kKey = QStringLiteral("software\\Test\\Snapshot");

// A component's saving code: three values it always writes.
struct TComponent {
    std::int32_t Width = 800;
    QString Font = QStringLiteral("Sans");
    bool Shown = false;
    TRegRoot Root = TRegRoot::rrCurrentUser;
    void Save() const {
        TRegistry reg(Root);
        reg.OpenKey(kKey, true);
        reg.WriteInteger("width", Width);
        reg.WriteString("font", Font);
        reg.WriteBool("shown", Shown);
        reg.CloseKey();
    }
};

std::optional<std::int32_t> StoredInteger(const char* name) {
    TRegistry reg;
    reg.OpenKey(kKey, true);
    return reg.ReadInteger(name);
}

// Two processes started with the same values; each changes one of them. Whatever order
// they write in, both changes are kept: a process writes what it changed, never the
// copy it took at start.
TEST(StoreSnapshot, EachWriterKeepsOnlyItsOwnChanges) {
    TRegistry().DeleteKey(kKey);
    for (const bool firstWritesFirst : {true, false}) {
        TComponent first, second;
        first.Save(); // the store as both found it
        TStoreSnapshot firstStored, secondStored;
        firstStored.Take([&] { first.Save(); });
        secondStored.Take([&] { second.Save(); });
        first.Width = 1000;
        second.Shown = true;
        if (firstWritesFirst) {
            ASSERT_TRUE(firstStored.WriteChanges([&] { first.Save(); }));
            ASSERT_TRUE(secondStored.WriteChanges([&] { second.Save(); }));
        } else {
            ASSERT_TRUE(secondStored.WriteChanges([&] { second.Save(); }));
            ASSERT_TRUE(firstStored.WriteChanges([&] { first.Save(); }));
        }
        EXPECT_EQ(StoredInteger("width"), 1000);
        EXPECT_EQ(StoredInteger("shown"), 1);
        TRegistry().DeleteKey(kKey);
    }
}

TEST(StoreSnapshot, RecordingWritesNothingAndMakesNoKey) {
    TRegistry().DeleteKey(kKey);
    TComponent c;
    TStoreSnapshot stored;
    stored.Take([&] { c.Save(); });
    EXPECT_FALSE(TRegistry().KeyExists(kKey));
    EXPECT_FALSE(stored.Changed([&] { c.Save(); }));
    c.Font = QStringLiteral("Serif");
    EXPECT_TRUE(stored.Changed([&] { c.Save(); }));
    EXPECT_FALSE(TRegistry().KeyExists(kKey));
}

// A store that cannot be written says why, and the change is tried again next time.
TEST(StoreSnapshot, AFailedWriteIsReportedAndRetried) {
    const QString hive =
        TRegistryHive::Folder() + '/' + TRegistryHive::RootName(TRegRoot::rrClassesRoot) + ".reg";
    TComponent c;
    c.Root = TRegRoot::rrClassesRoot;
    TStoreSnapshot stored;
    stored.Take([&] { c.Save(); });
    c.Width = 1234;
    // A folder stands where the hive should go (a read-only folder would not stop root).
    QFile::remove(hive);
    ASSERT_TRUE(QDir().mkpath(hive));
    QString error;
    EXPECT_FALSE(stored.WriteChanges([&] { c.Save(); }, &error));
    EXPECT_FALSE(error.isEmpty());
    ASSERT_TRUE(QDir(hive).removeRecursively());
    EXPECT_TRUE(stored.Changed([&] { c.Save(); }));
    ASSERT_TRUE(stored.WriteChanges([&] { c.Save(); }));
    TRegistry reg(TRegRoot::rrClassesRoot);
    reg.OpenKey(kKey, true);
    EXPECT_EQ(reg.ReadInteger("width"), 1234);
}

TEST(StoreSnapshot, TheHiveIsTheOwnersAlone) {
    TComponent c;
    c.Width = 77;
    TStoreSnapshot stored;
    ASSERT_TRUE(stored.WriteChanges([&] { c.Save(); }));
    const QFileInfo hive(TRegistryHive::Folder() + '/' +
                         TRegistryHive::RootName(TRegRoot::rrCurrentUser) + ".reg");
    ASSERT_TRUE(hive.exists());
    EXPECT_EQ(hive.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther |
                                    QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
}

} // namespace
