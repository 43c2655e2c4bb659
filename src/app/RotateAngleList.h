#pragma once

#include <QHash>
#include <QString>

#include <vector>

// The per-file rotation angles ("RotateAngles" in the data folder): one line per
// file, "<full path>=<angle in degrees>", lines ended by CR LF, UTF-8.
//
// Names compare without regard to case and the first matching line counts;
// setting an angle replaces that line's value or appends a line. A value that is
// not a decimal integer reads as 0, and lines without "=" are dropped. The path
// is split from the angle at the last "=", so a path containing "=" survives.
class TRotateAngleList {
public:
    struct TEntry {
        QString Name;
        QString Value; // as stored, so an unreadable value is written back unchanged
    };

    // Replaces the list by the file's lines; a missing or unreadable file gives an
    // empty list (false).
    bool LoadFromFile(const QString& fileName);
    // Writes the whole list atomically (also when empty), readable by its owner
    // only; false on failure.
    [[nodiscard]] bool SaveToFile(const QString& fileName, QString* error = nullptr) const;
    // Sets the angle of `name` here and in the file as it is now, under a lock that
    // other Pictrel processes take too, so the turns they stored meanwhile stay; the
    // other lines of the file are read back into this list. False (with the reason)
    // when the file could not be written; the angle is set here all the same.
    bool StoreAngle(const QString& fileName, const QString& name, int angle,
                    QString* error = nullptr);

    // Angle of `name`, 0 when it has no line or its value is not a number.
    [[nodiscard]] int Angle(const QString& name) const;
    [[nodiscard]] bool Contains(const QString& name) const;
    // Sets the angle of `name`; an empty name or one with a line break cannot be
    // stored and is ignored (false).
    bool SetAngle(const QString& name, int angle);

    [[nodiscard]] int Count() const { return int(m_entries.size()); }
    [[nodiscard]] const std::vector<TEntry>& Entries() const { return m_entries; }
    void Clear();

private:
    void Add(QString name, QString value);

    std::vector<TEntry> m_entries;
    QHash<QString, int> m_index; // case-folded name -> first entry
};
