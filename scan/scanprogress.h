#pragma once
// The scan's status line: every caption in the order the scan writes it for
// whoever listens, and on the form only what stands when the scan yields, so
// a long list of entries does not pay for a repaint per caption.

#include <QElapsedTimer>
#include <QString>

#include <functional>

class ScanForm;

namespace Scan {

class ScannedTotal;

class ScanProgress final
{
public:
    // `listening` tells whether anyone hears every caption; `written` tells them.
    ScanProgress(ScanForm &form, ScannedTotal &scanned, std::function<bool()> listening,
                 std::function<void(const QString &)> written);

    // A scan begins: the first yield is due one interval later.
    void start() { m_sinceYield.start(); }
    bool listening() const { return m_listening(); }

    void setCaption(const QString &caption);
    // The rules' captions are built only when someone reads them: a listener,
    // or the status line at the next flush.
    void setFromCaption(const QString &from, const QString &entry);
    void setKeywordCaption(const QString &entry, bool body);
    // Shows the pending caption and scanned total on the form.
    void flush();
    // Processes events once the interval since the last yield has passed;
    // returns whether it did (so lists and listeners may have changed).
    bool yield();

private:
    enum class Kind { Text, From, Keyword };

    ScanForm &m_form;
    ScannedTotal &m_scanned;
    std::function<bool()> m_listening;
    std::function<void(const QString &)> m_written;
    QElapsedTimer m_sinceYield;
    QString m_caption;
    bool m_pending = false;
    Kind m_kind = Kind::Text;
    QString m_subject; // the From text of a From caption
    QString m_entry;
    bool m_body = false;
};

} // namespace Scan
