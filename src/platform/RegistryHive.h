#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

// Registry roots, one text hive file each.
enum class TRegRoot : std::uint8_t { rrCurrentUser, rrClassesRoot, rrLocalMachine };

// The value kinds a hive stores: string, 32-bit DWORD, binary.
enum class TRegDataType : std::uint8_t { rdString, rdInteger, rdBinary };

using TRegData = std::variant<QString, std::uint32_t, QByteArray>;

// One key of a hive: values and subkeys, names case-preserving and compared
// without regard to case, kept in creation order so that the file stays stable.
struct TRegKeyNode {
    struct TValue {
        QString Name;
        TRegData Data;
    };
    QString Name;
    std::vector<TValue> Values;
    std::vector<std::unique_ptr<TRegKeyNode>> Keys;

    [[nodiscard]] TRegKeyNode* Child(const QString& name) const;
    TRegKeyNode& ChildOrNew(const QString& name);
    bool RemoveChild(const QString& name);
    [[nodiscard]] const TValue* Value(const QString& name) const;
    void SetValue(const QString& name, TRegData data);
    bool RemoveValue(const QString& name);
};

// The hive of one root, shared by every TRegistry of the process.
//
// The tree in memory is the file as last read plus this process's pending
// changes. Changes are recorded in a journal; Flush takes the cross-process
// lock, re-reads the file when another process replaced it since, replays the
// journal over it and saves atomically, so concurrent writers only lose a value
// when both wrote the same one (the last wins). Readers re-read the file when its
// identity (inode, size, modification time) changed.
//
// A file that does not parse keeps what did parse; the damaged original is copied
// beside it with a ".damaged-<time>" suffix and one warning goes to standard error.
class TRegistryHive {
public:
    // The hive of `root` in the current registry folder
    // ($XDG_CONFIG_HOME/pictrel/registry, looked up on every call).
    static TRegistryHive& For(TRegRoot root);
    static QString RootName(TRegRoot root);
    static QString Folder();

    explicit TRegistryHive(TRegRoot root, QString fileName);

    // Every access runs under Lock(); the reference stays valid while it is held.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() {
        return std::unique_lock(m_mutex);
    }

    // Re-reads the file when another process replaced it (pending changes are
    // replayed over the new contents). Call under Lock().
    void Refresh();
    [[nodiscard]] TRegKeyNode& Tree() { return m_tree; }

    // Changes, applied at once in memory and recorded for Flush.
    TRegKeyNode& CreateKey(const QStringList& path);
    void SetValue(const QStringList& path, const QString& name, TRegData data);
    bool DeleteValue(const QStringList& path, const QString& name);
    bool DeleteKey(const QStringList& path);

    // Writes the pending changes; false (with the reason in `error`) when the
    // file could not be written. The journal is kept on failure.
    bool Flush(QString* error = nullptr);

    [[nodiscard]] const QString& FileName() const { return m_fileName; }

    // Text of a tree in hive form, and parsing of such text into a tree; the
    // parser returns how many lines it had to skip.
    static QByteArray Serialize(const TRegKeyNode& tree, TRegRoot root);
    static int Parse(const QByteArray& text, TRegRoot root, TRegKeyNode& tree);

    // A key line naming more levels below the root than this is damage: trees are
    // written and freed recursively, so a hand-made hive must not nest without end.
    static constexpr int kMaxKeyDepth = 512;

    [[nodiscard]] TRegKeyNode* Find(const QStringList& path);

private:
    struct TChange {
        enum class TKind : std::uint8_t { ckCreateKey, ckSetValue, ckDeleteValue, ckDeleteKey };
        TKind Kind;
        QStringList Path;
        QString Name;
        TRegData Data;
    };
    struct TFileId {
        std::uint64_t Inode = 0, Size = 0;
        std::int64_t MtimeNs = 0;
        bool Exists = false;
        bool operator==(const TFileId&) const = default;
    };

    [[nodiscard]] TFileId CurrentFileId() const;
    void Reload();
    void Apply(const TChange& change);

    TRegRoot m_root;
    QString m_fileName;
    std::recursive_mutex m_mutex;
    TRegKeyNode m_tree;
    TFileId m_loaded;
    bool m_everLoaded = false;
    std::vector<TChange> m_journal;
};
