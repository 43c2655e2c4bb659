#pragma once

#include "platform/RegistryHive.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

// A registry write that could not be saved.
class ERegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// While one exists on a thread, the TRegistry writes of that thread are recorded
// here instead of reaching the store, and keys are not created: what a component
// would save can be compared with what it saved last (see TStoreSnapshot).
class TRegistryCapture {
public:
    struct TEntry {
        TRegRoot Root;
        QStringList Path;
        QString Name;
        TRegData Data;
    };
    TRegistryCapture();
    ~TRegistryCapture();
    TRegistryCapture(const TRegistryCapture&) = delete;
    TRegistryCapture& operator=(const TRegistryCapture&) = delete;

    [[nodiscard]] const std::vector<TEntry>& Entries() const { return m_entries; }
    [[nodiscard]] static TRegistryCapture* Active();
    void Record(TRegRoot root, const QStringList& path, const QString& name, TRegData data);

private:
    TRegistryCapture* m_outer;
    std::vector<TEntry> m_entries;
};

// Access to one key of a registry root at a time, in the manner the windows and
// the association code use it: open a key (optionally creating it), read and
// write typed values, close.
//
// Key paths use backslashes; a path starting with a backslash starts at the root,
// any other path is relative to the open key (or the root when none is open).
// Key and value names compare without regard to case and keep the case they were
// created with. The empty value name is the key's default value.
//
// Reads return std::nullopt when the value is missing AND when it has another
// type than the one asked for (a string where a DWORD is expected, a binary value
// that is not 8 bytes long for a float), so the caller's default applies instead
// of a half-converted value. Booleans are DWORDs (non-zero is true); floats are
// 8-byte binaries holding a little-endian IEEE double.
//
// Changes show at once to every TRegistry of the process and are saved to the
// hive file when the key is closed, the object is destroyed or Flush is called.
class TRegistry {
public:
    explicit TRegistry(TRegRoot root = TRegRoot::rrCurrentUser) : m_root(root) {}
    // Saves pending changes; a failure is reported on standard error only.
    ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    [[nodiscard]] TRegRoot RootKey() const { return m_root; }
    void SetRootKey(TRegRoot root);

    // Opens `key`; with `canCreate` missing keys on the way are created. False
    // when the key does not exist (and may not be created), a name is invalid or the
    // key would lie deeper than TRegistryHive::kMaxKeyDepth levels.
    bool OpenKey(const QString& key, bool canCreate);
    // Saves pending changes and forgets the open key; throws ERegistryError when
    // the hive cannot be written.
    void CloseKey();
    // Saves pending changes of this root; throws ERegistryError on failure.
    void Flush();

    [[nodiscard]] bool HasOpenKey() const { return m_open; }
    // Backslash-separated path of the open key below the root, as opened.
    [[nodiscard]] QString CurrentPath() const { return m_path.join('\\'); }

    [[nodiscard]] bool KeyExists(const QString& key);
    [[nodiscard]] bool HasSubKeys();
    // Deletes `key` with all its subkeys; false when it does not exist.
    bool DeleteKey(const QString& key);
    [[nodiscard]] QStringList GetKeyNames();

    [[nodiscard]] bool ValueExists(const QString& name);
    bool DeleteValue(const QString& name);
    [[nodiscard]] QStringList GetValueNames();
    [[nodiscard]] std::optional<TRegDataType> GetDataType(const QString& name);

    [[nodiscard]] std::optional<std::int32_t> ReadInteger(const QString& name);
    [[nodiscard]] std::optional<bool> ReadBool(const QString& name);
    [[nodiscard]] std::optional<QString> ReadString(const QString& name);
    [[nodiscard]] std::optional<double> ReadFloat(const QString& name);
    [[nodiscard]] std::optional<QByteArray> ReadBinaryData(const QString& name);

    void WriteInteger(const QString& name, std::int32_t value);
    void WriteBool(const QString& name, bool value);
    void WriteString(const QString& name, const QString& value);
    void WriteFloat(const QString& name, double value);
    void WriteBinaryData(const QString& name, const QByteArray& value);

    // Splits a key path into names; nullopt when a name holds a control character.
    [[nodiscard]] static std::optional<QStringList> SplitPath(const QString& key);

private:
    [[nodiscard]] std::optional<QStringList> Resolve(const QString& key) const;
    [[nodiscard]] const TRegKeyNode::TValue* FindValue(TRegistryHive& hive, const QString& name);
    void Write(const QString& name, TRegData data);

    TRegRoot m_root;
    QStringList m_path;
    bool m_open = false;
};
