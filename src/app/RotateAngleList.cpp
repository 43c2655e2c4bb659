#include "app/RotateAngleList.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString Folded(const QString& name) {
    return name.toCaseFolded();
}

} // namespace

void TRotateAngleList::Clear() {
    m_entries.clear();
    m_index.clear();
}

void TRotateAngleList::Add(QString name, QString value) {
    const QString key = Folded(name);
    if (!m_index.contains(key)) m_index.insert(key, int(m_entries.size()));
    m_entries.push_back({std::move(name), std::move(value)});
}

bool TRotateAngleList::LoadFromFile(const QString& fileName) {
    Clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = file.readAll();
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        const qsizetype eq = line.lastIndexOf('=');
        if (eq <= 0) continue;
        Add(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    return true;
}

bool TRotateAngleList::SaveToFile(const QString& fileName, QString* error) const {
    QByteArray text;
    for (const TEntry& entry : m_entries)
        text += entry.Name.toUtf8() + '=' + entry.Value.toUtf8() + "\r\n";
    return WriteFileAtomically(fileName, text, error, true);
}

bool TRotateAngleList::StoreAngle(const QString& fileName, const QString& name, int angle,
                                  QString* error) {
    if (!SetAngle(name, angle)) return true;
    const auto fail = [&](const QString& why) {
        if (error) *error = why;
        return false;
    };
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return fail(QStringLiteral("cannot create the folder of ") + fileName);
    const TFileLock lock(fileName);
    if (!lock.Held()) return fail(QStringLiteral("cannot open the lock file of ") + fileName);
    // The file as the other processes left it, with this one turn set in it.
    TRotateAngleList current;
    current.LoadFromFile(fileName);
    current.SetAngle(name, angle);
    QString why;
    if (!current.SaveToFile(fileName, &why)) return fail(why);
    // The file now holds every process's turns; what only this list knew (a store
    // that failed earlier) is kept too.
    for (const TEntry& entry : m_entries)
        if (!current.Contains(entry.Name)) current.Add(entry.Name, entry.Value);
    *this = std::move(current);
    return true;
}

int TRotateAngleList::Angle(const QString& name) const {
    const auto it = m_index.constFind(Folded(name));
    if (it == m_index.constEnd()) return 0;
    bool ok = false;
    const int angle = m_entries[std::size_t(*it)].Value.trimmed().toInt(&ok, 10);
    return ok ? angle : 0;
}

bool TRotateAngleList::Contains(const QString& name) const {
    return m_index.contains(Folded(name));
}

bool TRotateAngleList::SetAngle(const QString& name, int angle) {
    if (name.isEmpty() || name.contains('\n') || name.contains('\r')) return false;
    const auto it = m_index.constFind(Folded(name));
    if (it != m_index.constEnd()) {
        m_entries[std::size_t(*it)].Value = QString::number(angle);
        return true;
    }
    Add(name, QString::number(angle));
    return true;
}
