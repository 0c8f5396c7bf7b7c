#include "memorypropertybag.h"

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
