#pragma once

#include <QString>
#include <QStringList>

// The user's mimeapps.list ($XDG_CONFIG_HOME/mimeapps.list): only the
// [Default Applications] entries are changed; every other line is kept as read.
class TMimeAppsList {
public:
    [[nodiscard]] static QString DefaultFileName();

    bool Load(const QString& fileName); // a missing file is an empty list (true)
    [[nodiscard]] bool Save() const;    // atomic; false on failure

    // The whole value of the default entry for `mimeType` ("a.desktop;b.desktop;"),
    // empty when there is none.
    [[nodiscard]] QString Default(const QString& mimeType) const;
    // Sets the value; an empty value removes the entry.
    void SetDefault(const QString& mimeType, const QString& value);

    // The first desktop id of a value.
    [[nodiscard]] static QString FirstId(const QString& value);
    // `id` first, then the other ids of `value` without it.
    [[nodiscard]] static QString WithFirst(const QString& id, const QString& value);
    // `value` without `id`.
    [[nodiscard]] static QString Without(const QString& id, const QString& value);

private:
    static constexpr char kSection[] = "[Default Applications]";
    [[nodiscard]] qsizetype SectionStart() const;
    [[nodiscard]] qsizetype EntryLine(const QString& mimeType) const;

    QString m_fileName;
    QStringList m_lines;
};
