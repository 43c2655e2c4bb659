#include "platform/Registry.h"

#include <cstdio>
#include <cstring>

namespace {

thread_local TRegistryCapture* t_capture = nullptr;

} // namespace

TRegistryCapture::TRegistryCapture() : m_outer(t_capture) {
    t_capture = this;
}

TRegistryCapture::~TRegistryCapture() {
    t_capture = m_outer;
}

TRegistryCapture* TRegistryCapture::Active() {
    return t_capture;
}

void TRegistryCapture::Record(TRegRoot root, const QStringList& path, const QString& name,
                              TRegData data) {
    m_entries.push_back({root, path, name, std::move(data)});
}

TRegistry::~TRegistry() {
    if (t_capture) return;
    QString error;
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    if (!hive.Flush(&error))
        std::fprintf(stderr, "pictrel: settings not saved: %s\n", qPrintable(error));
}

void TRegistry::SetRootKey(TRegRoot root) {
    if (root == m_root) return;
    CloseKey();
    m_root = root;
}

std::optional<QStringList> TRegistry::SplitPath(const QString& key) {
    QStringList parts = key.split('\\', Qt::SkipEmptyParts);
    for (const QString& part : parts)
        for (const QChar c : part)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) return std::nullopt;
    return parts;
}

std::optional<QStringList> TRegistry::Resolve(const QString& key) const {
    auto parts = SplitPath(key);
    if (!parts) return std::nullopt;
    if (!key.startsWith('\\') && m_open) parts = m_path + *parts;
    // A key deeper than a hive may hold would be dropped when the hive is read again.
    if (parts->size() > TRegistryHive::kMaxKeyDepth) return std::nullopt;
    return parts;
}

bool TRegistry::OpenKey(const QString& key, bool canCreate) {
    const auto path = Resolve(key);
    if (!path) return false;
    if (t_capture) {
        // Recording only: the key is taken as it would be made.
        m_path = *path;
        m_open = true;
        return true;
    }
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    if (hive.Find(*path) == nullptr) {
        if (!canCreate) return false;
        hive.CreateKey(*path);
    }
    m_path = *path;
    m_open = true;
    return true;
}

void TRegistry::Flush() {
    if (t_capture) return;
    QString error;
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    if (!hive.Flush(&error)) throw ERegistryError(error.toStdString());
}

void TRegistry::CloseKey() {
    m_open = false;
    m_path.clear();
    Flush();
}

bool TRegistry::KeyExists(const QString& key) {
    const auto path = Resolve(key);
    if (!path) return false;
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    return hive.Find(*path) != nullptr;
}

bool TRegistry::HasSubKeys() {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    const TRegKeyNode* node = hive.Find(m_path);
    return node != nullptr && !node->Keys.empty();
}

bool TRegistry::DeleteKey(const QString& key) {
    const auto path = Resolve(key);
    if (!path || path->isEmpty()) return false;
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    return hive.DeleteKey(*path);
}

QStringList TRegistry::GetKeyNames() {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    QStringList names;
    if (const TRegKeyNode* node = hive.Find(m_path))
        for (const auto& child : node->Keys) names.append(child->Name);
    return names;
}

const TRegKeyNode::TValue* TRegistry::FindValue(TRegistryHive& hive, const QString& name) {
    hive.Refresh();
    const TRegKeyNode* node = hive.Find(m_path);
    return node ? node->Value(name) : nullptr;
}

bool TRegistry::ValueExists(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    return FindValue(hive, name) != nullptr;
}

bool TRegistry::DeleteValue(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    return hive.DeleteValue(m_path, name);
}

QStringList TRegistry::GetValueNames() {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    QStringList names;
    if (const TRegKeyNode* node = hive.Find(m_path))
        for (const auto& value : node->Values) names.append(value.Name);
    return names;
}

std::optional<TRegDataType> TRegistry::GetDataType(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    const auto* value = FindValue(hive, name);
    if (value == nullptr) return std::nullopt;
    if (std::holds_alternative<QString>(value->Data)) return TRegDataType::rdString;
    if (std::holds_alternative<std::uint32_t>(value->Data)) return TRegDataType::rdInteger;
    return TRegDataType::rdBinary;
}

std::optional<std::int32_t> TRegistry::ReadInteger(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    const auto* value = FindValue(hive, name);
    if (value == nullptr) return std::nullopt;
    if (const auto* d = std::get_if<std::uint32_t>(&value->Data))
        return static_cast<std::int32_t>(*d);
    return std::nullopt;
}

std::optional<bool> TRegistry::ReadBool(const QString& name) {
    const auto value = ReadInteger(name);
    if (!value) return std::nullopt;
    return *value != 0;
}

std::optional<QString> TRegistry::ReadString(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    const auto* value = FindValue(hive, name);
    if (value == nullptr) return std::nullopt;
    if (const auto* s = std::get_if<QString>(&value->Data)) return *s;
    return std::nullopt;
}

std::optional<QByteArray> TRegistry::ReadBinaryData(const QString& name) {
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    const auto* value = FindValue(hive, name);
    if (value == nullptr) return std::nullopt;
    if (const auto* b = std::get_if<QByteArray>(&value->Data)) return *b;
    return std::nullopt;
}

std::optional<double> TRegistry::ReadFloat(const QString& name) {
    const auto bytes = ReadBinaryData(name);
    if (!bytes || bytes->size() != 8) return std::nullopt;
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | static_cast<unsigned char>((*bytes)[i]);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void TRegistry::Write(const QString& name, TRegData data) {
    if (t_capture) {
        t_capture->Record(m_root, m_path, name, std::move(data));
        return;
    }
    TRegistryHive& hive = TRegistryHive::For(m_root);
    const auto lock = hive.Lock();
    hive.Refresh();
    hive.SetValue(m_path, name, std::move(data));
}

void TRegistry::WriteInteger(const QString& name, std::int32_t value) {
    Write(name, static_cast<std::uint32_t>(value));
}

void TRegistry::WriteBool(const QString& name, bool value) {
    Write(name, std::uint32_t(value ? 1 : 0));
}

void TRegistry::WriteString(const QString& name, const QString& value) {
    Write(name, value);
}

void TRegistry::WriteBinaryData(const QString& name, const QByteArray& value) {
    Write(name, value);
}

void TRegistry::WriteFloat(const QString& name, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    QByteArray bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = char((bits >> (8 * i)) & 0xff);
    Write(name, bytes);
}
