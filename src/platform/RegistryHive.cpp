#include "platform/RegistryHive.h"

#include "platform/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Quoted hive text: backslash and double quote escaped, control characters as
// escapes so that a value never spans lines.
QByteArray Quote(const QString& text) {
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                out += hex;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at `pos` (on the opening quote); leaves `pos` after
// the closing quote. Returns false when the quote is not closed.
bool Unquote(const QByteArray& line, qsizetype& pos, QString& text) {
    if (pos >= line.size() || line[pos] != '"') return false;
    QByteArray bytes;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            text = QString::fromUtf8(bytes);
            return true;
        }
        if (c != '\\' || pos + 1 >= line.size()) {
            bytes += c;
            continue;
        }
        const char e = line[++pos];
        switch (e) {
        case 'n':
            bytes += '\n';
            break;
        case 'r':
            bytes += '\r';
            break;
        case 't':
            bytes += '\t';
            break;
        case 'x': {
            const int hi = pos + 1 < line.size() ? HexDigit(line[pos + 1]) : -1;
            const int lo = pos + 2 < line.size() ? HexDigit(line[pos + 2]) : -1;
            if (hi < 0 || lo < 0) return false;
            bytes += char(hi * 16 + lo);
            pos += 2;
            break;
        }
        default:
            bytes += e; // \\ and \" and anything a hand edit produced
        }
    }
    return false;
}

bool ParseHexBytes(const QByteArray& text, QByteArray& bytes) {
    bytes.clear();
    for (const QByteArray& item : text.split(',')) {
        const QByteArray t = item.trimmed();
        if (t.isEmpty()) {
            if (text.trimmed().isEmpty()) return true;
            return false;
        }
        if (t.size() > 2) return false;
        int v = 0;
        for (const char c : t) {
            const int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + d;
        }
        bytes += char(v);
    }
    return true;
}

bool ParseData(const QByteArray& text, TRegData& data) {
    if (text.startsWith('"')) {
        qsizetype pos = 0;
        QString s;
        if (!Unquote(text, pos, s) || !text.mid(pos).trimmed().isEmpty()) return false;
        data = s;
        return true;
    }
    const QByteArray lower = text.toLower();
    if (lower.startsWith("dword:")) {
        const QByteArray digits = text.mid(6).trimmed();
        if (digits.isEmpty() || digits.size() > 8) return false;
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok) return false;
        data = std::uint32_t(v);
        return true;
    }
    QByteArray bytes;
    if (lower.startsWith("hex:")) {
        if (!ParseHexBytes(text.mid(4), bytes)) return false;
        data = bytes;
        return true;
    }
    if (lower.startsWith("hex(4):")) { // DWORD written as little-endian bytes
        if (!ParseHexBytes(text.mid(7), bytes) || bytes.size() != 4) return false;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
        data = v;
        return true;
    }
    return false;
}

std::map<QString, std::unique_ptr<TRegistryHive>>& Hives() {
    static std::map<QString, std::unique_ptr<TRegistryHive>> hives;
    return hives;
}

} // namespace

TRegKeyNode* TRegKeyNode::Child(const QString& name) const {
    for (const auto& key : Keys)
        if (SameName(key->Name, name)) return key.get();
    return nullptr;
}

TRegKeyNode& TRegKeyNode::ChildOrNew(const QString& name) {
    if (TRegKeyNode* key = Child(name)) return *key;
    Keys.push_back(std::make_unique<TRegKeyNode>());
    Keys.back()->Name = name;
    return *Keys.back();
}

bool TRegKeyNode::RemoveChild(const QString& name) {
    for (auto it = Keys.begin(); it != Keys.end(); ++it) {
        if (SameName((*it)->Name, name)) {
            Keys.erase(it);
            return true;
        }
    }
    return false;
}

const TRegKeyNode::TValue* TRegKeyNode::Value(const QString& name) const {
    for (const TValue& value : Values)
        if (SameName(value.Name, name)) return &value;
    return nullptr;
}

void TRegKeyNode::SetValue(const QString& name, TRegData data) {
    for (TValue& value : Values) {
        if (SameName(value.Name, name)) {
            value.Data = std::move(data);
            return;
        }
    }
    Values.push_back({name, std::move(data)});
}

bool TRegKeyNode::RemoveValue(const QString& name) {
    for (auto it = Values.begin(); it != Values.end(); ++it) {
        if (SameName(it->Name, name)) {
            Values.erase(it);
            return true;
        }
    }
    return false;
}

QString TRegistryHive::RootName(TRegRoot root) {
    switch (root) {
    case TRegRoot::rrClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case TRegRoot::rrLocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    case TRegRoot::rrCurrentUser:
        break;
    }
    return QStringLiteral("HKEY_CURRENT_USER");
}

QString TRegistryHive::Folder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
    return config + QStringLiteral("/pictrel/registry");
}

TRegistryHive& TRegistryHive::For(TRegRoot root) {
    static std::mutex mutex;
    const QString fileName = Folder() + '/' + RootName(root) + QStringLiteral(".reg");
    std::lock_guard lock(mutex);
    auto& slot = Hives()[fileName];
    if (!slot) slot = std::make_unique<TRegistryHive>(root, fileName);
    return *slot;
}

TRegistryHive::TRegistryHive(TRegRoot root, QString fileName)
    : m_root(root), m_fileName(std::move(fileName)) {}

TRegistryHive::TFileId TRegistryHive::CurrentFileId() const {
    struct stat st {};
    TFileId id;
    if (::stat(QFile::encodeName(m_fileName).constData(), &st) != 0) return id;
    id.Exists = true;
    id.Inode = st.st_ino;
    id.Size = std::uint64_t(st.st_size);
    id.MtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

void TRegistryHive::Refresh() {
    if (!m_everLoaded || CurrentFileId() != m_loaded) Reload();
}

void TRegistryHive::Reload() {
    m_everLoaded = true;
    TRegKeyNode tree;
    TFileId id;
    QFile file(m_fileName);
    if (file.open(QIODevice::ReadOnly)) {
        struct stat st {};
        if (::fstat(file.handle(), &st) == 0) {
            id.Exists = true;
            id.Inode = st.st_ino;
            id.Size = std::uint64_t(st.st_size);
            id.MtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        }
        const QByteArray text = file.readAll();
        file.close();
        const int skipped = Parse(text, m_root, tree);
        if (skipped > 0) {
            // Keep the original for the user; the next save writes a clean hive.
            const QString base =
                m_fileName + QStringLiteral(".damaged-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"));
            QString backup = base;
            for (int n = 2; QFile::exists(backup); ++n) backup = base + '-' + QString::number(n);
            const bool saved = QFile::copy(m_fileName, backup);
            std::fprintf(stderr,
                         "pictrel: the settings file %s is damaged (%d line(s) could not be read); "
                         "the readable settings are used%s%s\n",
                         qPrintable(QDir::toNativeSeparators(m_fileName)), skipped,
                         saved ? ", the damaged file is kept as " : "",
                         saved ? qPrintable(QDir::toNativeSeparators(backup)) : "");
        }
    }
    m_tree = std::move(tree);
    m_loaded = id;
    for (const TChange& change : m_journal) Apply(change);
}

TRegKeyNode* TRegistryHive::Find(const QStringList& path) {
    TRegKeyNode* node = &m_tree;
    for (const QString& part : path) {
        node = node->Child(part);
        if (node == nullptr) return nullptr;
    }
    return node;
}

void TRegistryHive::Apply(const TChange& change) {
    using K = TChange::TKind;
    switch (change.Kind) {
    case K::ckCreateKey: {
        TRegKeyNode* node = &m_tree;
        for (const QString& part : change.Path) node = &node->ChildOrNew(part);
        break;
    }
    case K::ckSetValue: {
        TRegKeyNode* node = &m_tree;
        for (const QString& part : change.Path) node = &node->ChildOrNew(part);
        node->SetValue(change.Name, change.Data);
        break;
    }
    case K::ckDeleteValue:
        if (TRegKeyNode* node = Find(change.Path)) node->RemoveValue(change.Name);
        break;
    case K::ckDeleteKey:
        if (change.Path.isEmpty()) break;
        if (TRegKeyNode* parent = Find(change.Path.mid(0, change.Path.size() - 1)))
            parent->RemoveChild(change.Path.last());
        break;
    }
}

TRegKeyNode& TRegistryHive::CreateKey(const QStringList& path) {
    TChange change{TChange::TKind::ckCreateKey, path, {}, {}};
    Apply(change);
    m_journal.push_back(std::move(change));
    return *Find(path);
}

void TRegistryHive::SetValue(const QStringList& path, const QString& name, TRegData data) {
    TChange change{TChange::TKind::ckSetValue, path, name, std::move(data)};
    Apply(change);
    m_journal.push_back(std::move(change));
}

bool TRegistryHive::DeleteValue(const QStringList& path, const QString& name) {
    TRegKeyNode* node = Find(path);
    if (node == nullptr || node->Value(name) == nullptr) return false;
    TChange change{TChange::TKind::ckDeleteValue, path, name, {}};
    Apply(change);
    m_journal.push_back(std::move(change));
    return true;
}

bool TRegistryHive::DeleteKey(const QStringList& path) {
    if (path.isEmpty() || Find(path) == nullptr) return false;
    TChange change{TChange::TKind::ckDeleteKey, path, {}, {}};
    Apply(change);
    m_journal.push_back(std::move(change));
    return true;
}

bool TRegistryHive::Flush(QString* error) {
    if (m_journal.empty()) return true;
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    const QString folder = QFileInfo(m_fileName).absolutePath();
    if (!QDir().mkpath(folder)) return fail(QStringLiteral("cannot create the folder ") + folder);
    const TFileLock lock(m_fileName);
    if (!lock.Held()) return fail(QStringLiteral("cannot open the lock file of ") + m_fileName);
    // Another process may have saved since we read: start from its file.
    if (!m_everLoaded || CurrentFileId() != m_loaded) Reload();
    QString why;
    const bool ok = WriteFileAtomically(m_fileName, Serialize(m_tree, m_root), &why, true);
    if (ok) {
        m_loaded = CurrentFileId();
        m_journal.clear();
    }
    return ok ? true
              : fail(QStringLiteral("cannot write ") + m_fileName + QStringLiteral(": ") + why);
}

QByteArray TRegistryHive::Serialize(const TRegKeyNode& tree, TRegRoot root) {
    QByteArray out = "REGEDIT4\n";
    const auto writeKey = [&](const auto& self, const TRegKeyNode& node, const QString& path,
                              bool isRoot) -> void {
        if (!isRoot || !node.Values.empty()) {
            out += "\n[" + path.toUtf8() + "]\n";
            for (const TRegKeyNode::TValue& value : node.Values) {
                out += value.Name.isEmpty() ? QByteArray("@") : Quote(value.Name);
                out += '=';
                if (const auto* s = std::get_if<QString>(&value.Data)) {
                    out += Quote(*s);
                } else if (const auto* d = std::get_if<std::uint32_t>(&value.Data)) {
                    char hex[16];
                    std::snprintf(hex, sizeof hex, "dword:%08x", unsigned(*d));
                    out += hex;
                } else {
                    const QByteArray& bytes = std::get<QByteArray>(value.Data);
                    out += "hex:";
                    for (qsizetype i = 0; i < bytes.size(); ++i) {
                        char hex[4];
                        std::snprintf(hex, sizeof hex, i ? ",%02x" : "%02x",
                                      static_cast<unsigned char>(bytes[i]));
                        out += hex;
                    }
                }
                out += '\n';
            }
        }
        for (const auto& child : node.Keys) self(self, *child, path + '\\' + child->Name, false);
    };
    writeKey(writeKey, tree, RootName(root), true);
    return out;
}

int TRegistryHive::Parse(const QByteArray& text, TRegRoot root, TRegKeyNode& tree) {
    const QString rootName = RootName(root);
    int skipped = 0;
    bool headerSeen = false;
    TRegKeyNode* current = nullptr;
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(';')) continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == "REGEDIT4") continue;
            ++skipped; // no header: still read what follows
        }
        if (line.startsWith('[')) {
            current = nullptr;
            if (!line.endsWith(']')) {
                ++skipped;
                continue;
            }
            const QString path = QString::fromUtf8(line.mid(1, line.size() - 2));
            QStringList parts = path.split('\\', Qt::SkipEmptyParts);
            if (parts.isEmpty() || !SameName(parts.first(), rootName)) {
                ++skipped;
                continue;
            }
            parts.removeFirst();
            if (parts.size() > kMaxKeyDepth) {
                ++skipped;
                continue;
            }
            current = &tree;
            for (const QString& part : parts) current = &current->ChildOrNew(part);
            continue;
        }
        // A value line; binary data may continue over lines ending in a backslash.
        while (line.endsWith('\\') && i + 1 < lines.size() && line.contains("=hex"))
            line = line.chopped(1) + lines[++i].trimmed();
        QString name;
        qsizetype pos = 0;
        if (line.startsWith('@')) {
            pos = 1;
        } else if (!Unquote(line, pos, name)) {
            ++skipped;
            continue;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        TRegData data;
        if (pos >= line.size() || line[pos] != '=' || current == nullptr ||
            !ParseData(line.mid(pos + 1).trimmed(), data)) {
            ++skipped;
            continue;
        }
        current->SetValue(name, std::move(data));
    }
    return skipped;
}
