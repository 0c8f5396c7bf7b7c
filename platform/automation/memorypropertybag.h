#pragma once
// A property bag held in memory: what a host fills from its own stored design
// values before loading a control, and what it inspects after a save.

#include "platform/automation/dispatch.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVariantMap>

#include <initializer_list>
#include <utility>

namespace Automation {

class MemoryPropertyBag final : public PropertyBag
{
public:
    MemoryPropertyBag() = default;
    // Design values written in the order given.
    MemoryPropertyBag(std::initializer_list<std::pair<QString, QVariant>> values);
    explicit MemoryPropertyBag(const QList<QPair<QString, QVariant>> &values);
    // Design values stored as "Key = value" lines (UTF-8, e.g. a Qt resource),
    // in file order; values stay text, the object converts them on load.
    // Blank lines and lines starting with '#' or ';' are skipped. False when
    // the file cannot be read.
    bool readDesignValues(const QString &path);

    QVariant read(const QString &key) const override;
    void write(const QString &key, const QVariant &value) override;

    bool contains(const QString &key) const { return m_values.contains(key); }
    void remove(const QString &key);
    void clear();
    QVariantMap values() const { return m_values; }

    // Keys in the order they were first written.
    QStringList keys() const { return m_keys; }
    // Every write and every read, in order (a key written twice appears twice).
    QStringList writeLog() const { return m_writeLog; }
    QStringList readLog() const { return m_readLog; }
    void clearLogs();

private:
    QVariantMap m_values;
    QStringList m_keys;
    QStringList m_writeLog;
    mutable QStringList m_readLog;
};

} // namespace Automation
