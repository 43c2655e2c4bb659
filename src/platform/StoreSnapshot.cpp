#include "platform/StoreSnapshot.h"

namespace {

bool SameValue(const TRegistryCapture::TEntry& a, const TRegistryCapture::TEntry& b) {
    if (a.Root != b.Root || a.Path.size() != b.Path.size() ||
        a.Name.compare(b.Name, Qt::CaseInsensitive) != 0)
        return false;
    for (qsizetype i = 0; i < a.Path.size(); ++i)
        if (a.Path[i].compare(b.Path[i], Qt::CaseInsensitive) != 0) return false;
    return true;
}

} // namespace

std::vector<TRegistryCapture::TEntry> TStoreSnapshot::Record(const TSave& save) {
    const TRegistryCapture capture;
    save();
    return capture.Entries();
}

void TStoreSnapshot::Take(const TSave& save) {
    m_entries = Record(save);
}

std::vector<TRegistryCapture::TEntry>
TStoreSnapshot::Differences(const std::vector<TRegistryCapture::TEntry>& now) const {
    std::vector<TRegistryCapture::TEntry> changed;
    for (const TRegistryCapture::TEntry& entry : now) {
        bool same = false;
        for (const TRegistryCapture::TEntry& old : m_entries)
            if (SameValue(entry, old)) {
                same = entry.Data == old.Data;
                break;
            }
        if (!same) changed.push_back(entry);
    }
    return changed;
}

bool TStoreSnapshot::Changed(const TSave& save) const {
    return !Differences(Record(save)).empty();
}

bool TStoreSnapshot::WriteChanges(const TSave& save, QString* error) {
    const std::vector<TRegistryCapture::TEntry> now = Record(save);
    const std::vector<TRegistryCapture::TEntry> changed = Differences(now);
    if (changed.empty()) return true;
    try {
        for (const TRegistryCapture::TEntry& entry : changed) {
            TRegistry reg(entry.Root);
            if (!reg.OpenKey(QStringLiteral("\\") + entry.Path.join(u'\\'), true))
                throw ERegistryError("cannot open the key " + entry.Path.join(u'\\').toStdString());
            if (const auto* s = std::get_if<QString>(&entry.Data))
                reg.WriteString(entry.Name, *s);
            else if (const auto* d = std::get_if<std::uint32_t>(&entry.Data))
                reg.WriteInteger(entry.Name, std::int32_t(*d));
            else
                reg.WriteBinaryData(entry.Name, std::get<QByteArray>(entry.Data));
            reg.CloseKey();
        }
    } catch (const std::exception& e) {
        if (error) *error = QString::fromStdString(e.what());
        return false;
    }
    m_entries = now;
    return true;
}
