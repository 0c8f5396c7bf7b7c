#include "platform/automation/memorypropertybag.h"

#include <QFile>
#include <QRegularExpression>

namespace Automation {

MemoryPropertyBag::MemoryPropertyBag(std::initializer_list<std::pair<QString, QVariant>> values)
{
    for (const auto &[key, value] : values)
        write(key, value);
    clearLogs();
}

MemoryPropertyBag::MemoryPropertyBag(const QList<QPair<QString, QVariant>> &values)
{
    for (const auto &entry : values)
        write(entry.first, entry.second);
    clearLogs();
}

bool MemoryPropertyBag::readDesignValues(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A lone CR ends a line too, as in the program's data files; otherwise a
    // file saved with CR line ends reads as one key holding the whole file.
    static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(lineEnd);
    for (const QString &line : lines) {
        const QString entry = line.trimmed();
        if (entry.isEmpty() || entry.startsWith(u'#') || entry.startsWith(u';'))
            continue;
        const qsizetype equals = entry.indexOf(u'=');
        if (equals <= 0)
            continue;
        write(entry.left(equals).trimmed(), entry.mid(equals + 1).trimmed());
    }
    clearLogs();
    return true;
}

QVariant MemoryPropertyBag::read(const QString &key) const
{
    m_readLog.append(key);
    return m_values.value(key);
}

void MemoryPropertyBag::write(const QString &key, const QVariant &value)
{
    if (!m_values.contains(key))
        m_keys.append(key);
    m_values.insert(key, value);
    m_writeLog.append(key);
}

void MemoryPropertyBag::remove(const QString &key)
{
    m_values.remove(key);
    m_keys.removeAll(key);
}

void MemoryPropertyBag::clear()
{
    m_values.clear();
    m_keys.clear();
    clearLogs();
}

void MemoryPropertyBag::clearLogs()
{
    m_writeLog.clear();
    m_readLog.clear();
}

} // namespace Automation
