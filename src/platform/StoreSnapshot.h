#pragma once

#include "platform/Registry.h"

#include <QString>

#include <functional>
#include <vector>

// What some components keep in the store, as this process last saw it, so that only
// the values this process changed are written. Several Pictrel processes share the
// store: writing a whole copy taken at start would undo what the others changed since.
//
// `save` is the components' own saving code (registry writes); it runs with the writes
// recorded instead of made, and what differs from the last record is written.
class TStoreSnapshot {
public:
    using TSave = std::function<void()>;

    // Records what `save` writes as the store's current content, writing nothing.
    void Take(const TSave& save);
    // Writes what `save` writes now and did not write at the last record, then
    // records it. False, with the reason in `error`, when the store could not be
    // written; the record then keeps the old values, so the next call tries again.
    bool WriteChanges(const TSave& save, QString* error = nullptr);
    // Whether `save` would write anything.
    [[nodiscard]] bool Changed(const TSave& save) const;

private:
    [[nodiscard]] static std::vector<TRegistryCapture::TEntry> Record(const TSave& save);
    [[nodiscard]] std::vector<TRegistryCapture::TEntry>
    Differences(const std::vector<TRegistryCapture::TEntry>& now) const;

    std::vector<TRegistryCapture::TEntry> m_entries;
};
