#include "platform/Registry.h"

#include "platform/AtomicFile.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

QString HiveFile(TRegRoot root) {
    return TRegistryHive::Folder() + '/' + TRegistryHive::RootName(root) + ".reg";
}

// Each test works below a key of its own, so tests of one process do not meet.
class RegistryTest : public ::testing::Test {
protected:
    QString Key() const {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return QStringLiteral("software\\Test\\") + info->name();
    }
};

TEST_F(RegistryTest, TypedValuesSurviveAFreshRead) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(Key(), true));
        reg.WriteInteger("int", -42);
        reg.WriteBool("yes", true);
        reg.WriteBool("no", false);
        reg.WriteString("text", QString::fromUtf8("C:\\pfad \"quoted\"\nzweite Zeile ü€"));
        reg.WriteString({}, "the default");
        reg.WriteFloat("float", -0.1);
        reg.WriteBinaryData("bin", QByteArray("\x00\x01\xff", 3));
        reg.CloseKey();
    }
    // Parse the saved file as another process would.
    QFile file(HiveFile(TRegRoot::rrCurrentUser));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TRegKeyNode tree;
    EXPECT_EQ(TRegistryHive::Parse(file.readAll(), TRegRoot::rrCurrentUser, tree), 0);
    const TRegKeyNode* node = &tree;
    for (const QString& part : Key().split('\\')) {
        node = node->Child(part);
        ASSERT_NE(node, nullptr) << part.toStdString();
    }
    EXPECT_EQ(std::get<std::uint32_t>(node->Value("int")->Data), 0xFFFFFFD6u);
    EXPECT_EQ(std::get<std::uint32_t>(node->Value("yes")->Data), 1u);
    EXPECT_EQ(std::get<QString>(node->Value("text")->Data),
              QString::fromUtf8("C:\\pfad \"quoted\"\nzweite Zeile ü€"));
    EXPECT_EQ(std::get<QString>(node->Value({})->Data), "the default");
    EXPECT_EQ(std::get<QByteArray>(node->Value("bin")->Data), QByteArray("\x00\x01\xff", 3));
    // The double is 8 little-endian bytes: -0.1 is 0xBFB999999999999A.
    EXPECT_EQ(std::get<QByteArray>(node->Value("float")->Data).toHex(), "9a9999999999b9bf");

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), false));
    EXPECT_EQ(reg.ReadInteger("int"), -42);
    EXPECT_EQ(reg.ReadBool("yes"), true);
    EXPECT_EQ(reg.ReadBool("no"), false);
    EXPECT_EQ(reg.ReadFloat("float"), -0.1);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key() + "\\MixedCase", true));
    reg.WriteInteger("Value Name", 1);
    reg.WriteInteger("VALUE NAME", 2);
    EXPECT_EQ(reg.ReadInteger("value name"), 2);
    EXPECT_EQ(reg.GetValueNames(), QStringList{"Value Name"});
    EXPECT_TRUE(reg.KeyExists("\\" + Key().toUpper() + "\\MIXEDCASE"));
    ASSERT_TRUE(reg.OpenKey("\\" + Key(), false));
    EXPECT_EQ(reg.GetKeyNames(), QStringList{"MixedCase"});
}

TEST_F(RegistryTest, ValueOfAnotherTypeReadsAsAbsent) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    reg.WriteString("width", "800");
    reg.WriteInteger("name", 5);
    reg.WriteBinaryData("short float", QByteArray(4, '\0'));
    EXPECT_FALSE(reg.ReadInteger("width").has_value());
    EXPECT_FALSE(reg.ReadBool("width").has_value());
    EXPECT_FALSE(reg.ReadString("name").has_value());
    EXPECT_FALSE(reg.ReadFloat("short float").has_value());
    EXPECT_FALSE(reg.ReadFloat("name").has_value());
    EXPECT_EQ(reg.GetDataType("width"), TRegDataType::rdString);
    EXPECT_TRUE(reg.ValueExists("width"));
}

TEST_F(RegistryTest, KeysAreCreatedOnlyWhenAsked) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKey(Key() + "\\missing", false));
    EXPECT_FALSE(reg.KeyExists(Key() + "\\missing"));
    EXPECT_TRUE(reg.OpenKey(Key() + "\\missing", true));
    EXPECT_TRUE(reg.KeyExists("\\" + Key() + "\\missing"));
    EXPECT_FALSE(reg.OpenKey(Key() + "\\bad\nname", true));
}

TEST_F(RegistryTest, RelativePathsStartAtTheOpenKey) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    ASSERT_TRUE(reg.OpenKey("shell\\open\\command", true));
    EXPECT_EQ(reg.CurrentPath(), Key() + "\\shell\\open\\command");
    ASSERT_TRUE(reg.OpenKey("\\" + Key(), false));
    EXPECT_TRUE(reg.KeyExists("shell\\open"));
    EXPECT_TRUE(reg.HasSubKeys());
}

TEST_F(RegistryTest, DeleteKeyTakesItsSubkeys) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(Key() + "\\a\\b\\c", true));
    reg.WriteString("v", "x");
    ASSERT_TRUE(reg.OpenKey("\\" + Key(), false));
    EXPECT_TRUE(reg.DeleteKey("a"));
    EXPECT_FALSE(reg.KeyExists("a\\b\\c"));
    EXPECT_FALSE(reg.HasSubKeys());
    EXPECT_FALSE(reg.DeleteKey("a"));
    reg.WriteInteger("gone", 1);
    EXPECT_TRUE(reg.DeleteValue("GONE"));
    EXPECT_FALSE(reg.ValueExists("gone"));
}

TEST_F(RegistryTest, ChangesByAnotherWriterAreSeen) {
    TRegistry reg(TRegRoot::rrLocalMachine);
    ASSERT_TRUE(reg.OpenKey(Key(), true));
    reg.WriteInteger("mine", 1);
    reg.Flush();
    // Another process replaces the hive.
    QFile file(HiveFile(TRegRoot::rrLocalMachine));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace("\"mine\"=dword:00000001", "\"mine\"=dword:00000002\n\"theirs\"=\"yes\"");
    ASSERT_TRUE(WriteFileAtomically(HiveFile(TRegRoot::rrLocalMachine), text));
    EXPECT_EQ(reg.ReadInteger("mine"), 2);
    EXPECT_EQ(reg.ReadString("theirs"), QString("yes"));
    // Our next change is replayed over theirs, not over our old copy.
    reg.WriteInteger("later", 3);
    reg.Flush();
    TRegKeyNode tree;
    QFile again(HiveFile(TRegRoot::rrLocalMachine));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    TRegistryHive::Parse(again.readAll(), TRegRoot::rrLocalMachine, tree);
    const TRegKeyNode* node = &tree;
    for (const QString& part : Key().split('\\')) node = node ? node->Child(part) : nullptr;
    ASSERT_NE(node, nullptr);
    EXPECT_NE(node->Value("theirs"), nullptr);
    EXPECT_NE(node->Value("later"), nullptr);
}

TEST(RegistryHiveParse, DamagedLinesAreSkippedAndTheRestKept) {
    const QByteArray text = "REGEDIT4\n"
                            "[HKEY_CURRENT_USER\\software\\A]\n"
                            "\"good\"=dword:0000000a\n"
                            "\"bad dword\"=dword:zz\n"
                            "\"unterminated=\"x\n"
                            "garbage line\n"
                            "[HKEY_LOCAL_MACHINE\\elsewhere]\n"
                            "\"lost\"=\"value\"\n"
                            "[HKEY_CURRENT_USER\\software\\B\n"
                            "[HKEY_CURRENT_USER\\software\\A]\n"
                            "\"text\"=\"ok\"\n"
                            "\"bin\"=hex:01,02,\\\n"
                            "  03\n"
                            "@=\"default\"\n";
    TRegKeyNode tree;
    EXPECT_EQ(TRegistryHive::Parse(text, TRegRoot::rrCurrentUser, tree), 6);
    const TRegKeyNode* a = tree.Child("software")->Child("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(std::get<std::uint32_t>(a->Value("good")->Data), 10u);
    EXPECT_EQ(std::get<QString>(a->Value("text")->Data), "ok");
    EXPECT_EQ(std::get<QByteArray>(a->Value("bin")->Data), QByteArray("\x01\x02\x03"));
    EXPECT_EQ(std::get<QString>(a->Value({})->Data), "default");
    EXPECT_EQ(a->Value("bad dword"), nullptr);
    EXPECT_EQ(tree.Child("software")->Child("B"), nullptr);
}

TEST(RegistryHiveParse, BinaryNonsenseNeverCrashes) {
    QByteArray noise;
    std::uint32_t x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245 + 12345;
        noise += char(x >> 24);
        if (i % 97 == 0) noise += "\n[HKEY_CURRENT_USER\\";
        if (i % 89 == 0) noise += "\n\"v\"=hex:";
        if (i % 83 == 0) noise += "\n\"s\"=\"\\x";
    }
    TRegKeyNode tree;
    EXPECT_GT(TRegistryHive::Parse(noise, TRegRoot::rrCurrentUser, tree), 0);
    // Whatever was read can be written and read back the same.
    const QByteArray text = TRegistryHive::Serialize(tree, TRegRoot::rrCurrentUser);
    TRegKeyNode again;
    EXPECT_EQ(TRegistryHive::Parse(text, TRegRoot::rrCurrentUser, again), 0);
    EXPECT_EQ(TRegistryHive::Serialize(again, TRegRoot::rrCurrentUser), text);
}

// Key lines nested deeper than the limit are damage, so that writing and freeing the
// tree (both recursive) cannot run out of stack however deep a hand-made file nests.
struct TDepthCase {
    const char* Name;
    int Depth;   // levels below the root named by the key line
    int Skipped; // lines the parser skips: the key line and its value
};

class RegistryHiveDepth : public ::testing::TestWithParam<TDepthCase> {};

TEST_P(RegistryHiveDepth, KeysBeyondTheLimitAreSkipped) {
    const TDepthCase& c = GetParam();
    QByteArray text = "REGEDIT4\n[HKEY_CURRENT_USER";
    for (int i = 0; i < c.Depth; ++i) text += "\\k";
    text += "]\n\"v\"=dword:00000001\n";
    TRegKeyNode tree;
    EXPECT_EQ(TRegistryHive::Parse(text, TRegRoot::rrCurrentUser, tree), c.Skipped);
    int depth = 0;
    const TRegKeyNode* node = &tree;
    for (; !node->Keys.empty(); ++depth) node = node->Keys.front().get();
    EXPECT_EQ(depth, c.Skipped == 0 ? c.Depth : 0);
    EXPECT_EQ(node->Value("v") != nullptr, c.Skipped == 0);
    const QByteArray written = TRegistryHive::Serialize(tree, TRegRoot::rrCurrentUser);
    TRegKeyNode again;
    EXPECT_EQ(TRegistryHive::Parse(written, TRegRoot::rrCurrentUser, again), 0);
    EXPECT_EQ(TRegistryHive::Serialize(again, TRegRoot::rrCurrentUser), written);
}

const TDepthCase kDepthCases[] = {
    {"Shallow", 3, 0},
    {"AtTheLimit", TRegistryHive::kMaxKeyDepth, 0},
    {"OneBeyond", TRegistryHive::kMaxKeyDepth + 1, 2},
    {"FarBeyond", 200000, 2}, // overflowed the stack once
};

INSTANTIATE_TEST_SUITE_P(Cases, RegistryHiveDepth, ::testing::ValuesIn(kDepthCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// So the program never writes a key that its next read would drop.
TEST_F(RegistryTest, KeysBeyondTheDepthLimitCannotBeOpened) {
    const QString top = '\\' + Key();
    QString deepest = top;
    for (qsizetype i = Key().split('\\').size(); i < TRegistryHive::kMaxKeyDepth; ++i)
        deepest += QStringLiteral("\\k");
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(deepest, true));
    EXPECT_FALSE(reg.OpenKey(QStringLiteral("k"), true));
    EXPECT_FALSE(reg.OpenKey(deepest + QStringLiteral("\\k"), true));
    EXPECT_TRUE(reg.KeyExists(deepest));
    EXPECT_FALSE(reg.KeyExists(deepest + QStringLiteral("\\k")));
    EXPECT_TRUE(reg.DeleteKey(top));
    reg.CloseKey();
}

TEST(RegistryDamagedHive, KeepsReadableValuesBacksUpAndWarnsOnce) {
    const QString name = HiveFile(TRegRoot::rrClassesRoot);
    ASSERT_TRUE(WriteFileAtomically(name, "REGEDIT4\n[HKEY_CLASSES_ROOT\\.jpg]\n@=\"Other.jpg\"\n"
                                          "\"broken\"=dword:\n\x01\x02 junk\n"));
    ::testing::internal::CaptureStderr();
    TRegistry reg(TRegRoot::rrClassesRoot);
    ASSERT_TRUE(reg.OpenKey("\\.jpg", false));
    EXPECT_EQ(reg.ReadString({}), QString("Other.jpg"));
    EXPECT_FALSE(reg.ValueExists("broken"));
    EXPECT_EQ(reg.ReadString({}), QString("Other.jpg")); // no second warning
    const std::string warning = ::testing::internal::GetCapturedStderr();
    const std::string head = "pictrel: the settings file";
    EXPECT_NE(warning.find(head), std::string::npos) << warning;
    EXPECT_EQ(warning.find(head), warning.rfind(head)) << warning;
    const QStringList backups =
        QDir(TRegistryHive::Folder()).entryList({"HKEY_CLASSES_ROOT.reg.damaged-*"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    QFile backup(TRegistryHive::Folder() + '/' + backups.first());
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    EXPECT_TRUE(backup.readAll().contains("junk"));
    // The next save writes a clean hive.
    reg.WriteString("fixed", "yes");
    reg.CloseKey();
    QFile clean(name);
    ASSERT_TRUE(clean.open(QIODevice::ReadOnly));
    TRegKeyNode tree;
    EXPECT_EQ(TRegistryHive::Parse(clean.readAll(), TRegRoot::rrClassesRoot, tree), 0);
}

// Child side of the concurrency test. It exists only in the processes that test
// starts, so an ordinary run neither lists it nor reports it as skipped.
class RegistryConcurrentChild : public ::testing::Test {
public:
    void TestBody() override {
        qputenv("XDG_CONFIG_HOME", qgetenv("PICTREL_TEST_CHILD_CONFIG"));
        const QString prefix = qEnvironmentVariable("PICTREL_TEST_CHILD_PREFIX");
        for (int i = 0; i < 150; ++i) {
            TRegistry reg;
            ASSERT_TRUE(reg.OpenKey("software\\Concurrent", true));
            reg.WriteInteger(prefix + QString::number(i), i);
            reg.CloseKey();
        }
    }
};

[[maybe_unused]] const bool g_childRegistered = [] {
    const char* config = std::getenv("PICTREL_TEST_CHILD_CONFIG");
    if (config == nullptr || *config == '\0') return false;
    // gtest owns the test object it gets from the factory.
    ::testing::RegisterTest("RegistryConcurrentChild", "WritesItsValues", nullptr, nullptr,
                            __FILE__, __LINE__,
                            []() -> ::testing::Test* { return new RegistryConcurrentChild; });
    return true;
}();

TEST(RegistryConcurrent, TwoProcessesWritingLoseNoValue) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME") + "/concurrent";
    QProcess a, b;
    for (auto [process, prefix] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PICTREL_TEST_CHILD_CONFIG", config);
        env.insert("PICTREL_TEST_CHILD_PREFIX", prefix);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QCoreApplication::applicationFilePath(),
                       {"--gtest_filter=RegistryConcurrentChild.*"});
    }
    ASSERT_TRUE(a.waitForFinished(50000));
    ASSERT_TRUE(b.waitForFinished(50000));
    ASSERT_EQ(a.exitCode(), 0);
    ASSERT_EQ(b.exitCode(), 0);
    QFile file(config + "/pictrel/registry/HKEY_CURRENT_USER.reg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    TRegKeyNode tree;
    ASSERT_EQ(TRegistryHive::Parse(file.readAll(), TRegRoot::rrCurrentUser, tree), 0);
    const TRegKeyNode* node = tree.Child("software")->Child("Concurrent");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->Values.size(), 300u);
    for (int i = 0; i < 150; ++i) {
        EXPECT_NE(node->Value("a" + QString::number(i)), nullptr) << i;
        EXPECT_NE(node->Value("b" + QString::number(i)), nullptr) << i;
    }
}

} // namespace
