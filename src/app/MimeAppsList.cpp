#include "app/MimeAppsList.h"

#include "platform/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString TMimeAppsList::DefaultFileName() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) config = QDir::homePath() + "/.config";
    return config + QStringLiteral("/mimeapps.list");
}

bool TMimeAppsList::Load(const QString& fileName) {
    m_fileName = fileName;
    m_lines.clear();
    QFile file(fileName);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) return false;
    m_lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!m_lines.isEmpty() && m_lines.last().isEmpty()) m_lines.removeLast();
    return true;
}

bool TMimeAppsList::Save() const {
    return WriteFileAtomically(m_fileName, (m_lines.join('\n') + '\n').toUtf8());
}

qsizetype TMimeAppsList::SectionStart() const {
    for (qsizetype i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].trimmed() == QLatin1String(kSection)) return i;
    return -1;
}

qsizetype TMimeAppsList::EntryLine(const QString& mimeType) const {
    const qsizetype start = SectionStart();
    if (start < 0) return -1;
    for (qsizetype i = start + 1; i < m_lines.size(); ++i) {
        const QString line = m_lines[i].trimmed();
        if (line.startsWith('[')) break;
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && line.left(eq).trimmed() == mimeType) return i;
    }
    return -1;
}

QString TMimeAppsList::Default(const QString& mimeType) const {
    const qsizetype i = EntryLine(mimeType);
    if (i < 0) return {};
    const QString& line = m_lines[i];
    return line.mid(line.indexOf('=') + 1).trimmed();
}

void TMimeAppsList::SetDefault(const QString& mimeType, const QString& value) {
    const qsizetype i = EntryLine(mimeType);
    if (value.isEmpty()) {
        if (i >= 0) m_lines.removeAt(i);
        return;
    }
    const QString line = mimeType + '=' + value;
    if (i >= 0) {
        m_lines[i] = line;
        return;
    }
    qsizetype start = SectionStart();
    if (start < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty()) m_lines.append(QString());
        m_lines.append(QLatin1String(kSection));
        start = m_lines.size() - 1;
    }
    // After the section's last entry, before any blank lines that end it.
    qsizetype at = start + 1;
    for (qsizetype j = start + 1; j < m_lines.size() && !m_lines[j].trimmed().startsWith('['); ++j)
        if (!m_lines[j].trimmed().isEmpty()) at = j + 1;
    m_lines.insert(at, line);
}

QString TMimeAppsList::FirstId(const QString& value) {
    const QStringList ids = value.split(';', Qt::SkipEmptyParts);
    return ids.isEmpty() ? QString() : ids.first().trimmed();
}

QString TMimeAppsList::WithFirst(const QString& id, const QString& value) {
    return id + ';' + Without(id, value);
}

QString TMimeAppsList::Without(const QString& id, const QString& value) {
    QString out;
    for (const QString& item : value.split(';', Qt::SkipEmptyParts))
        if (item.trimmed() != id) out += item.trimmed() + ';';
    return out;
}
