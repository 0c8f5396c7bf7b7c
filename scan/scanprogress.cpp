#include "scan/scanprogress.h"

#include "scan/scanform.h"
#include "scan/spamarchive.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Painting and event processing are coalesced to this interval so a long
// list of keywords does not pay for a repaint per caption.
constexpr qint64 YieldIntervalMs = 20;

QString fromCaption(const QString &from, const QString &entry)
{
    return u"FROM is "_s + from + u" CHECKING FOR "_s + entry;
}

QString keywordCaption(const QString &entry, bool body)
{
    return u"KEYWORD CHECK = "_s + entry + (body ? u" CHECKING BODY"_s : u" CHECKING SUBJECT"_s);
}

} // namespace

ScanProgress::ScanProgress(ScanForm &form, ScannedTotal &scanned, std::function<bool()> listening,
                           std::function<void(const QString &)> written)
    : m_form(form)
    , m_scanned(scanned)
    , m_listening(std::move(listening))
    , m_written(std::move(written))
{}

void ScanProgress::setCaption(const QString &caption)
{
    m_caption = caption;
    m_kind = Kind::Text;
    m_pending = true;
    if (m_listening())
        m_written(caption);
}

void ScanProgress::setFromCaption(const QString &from, const QString &entry)
{
    if (m_listening()) {
        setCaption(fromCaption(from, entry));
        return;
    }
    m_kind = Kind::From;
    m_subject = from;
    m_entry = entry;
    m_pending = true;
}

void ScanProgress::setKeywordCaption(const QString &entry, bool body)
{
    if (m_listening()) {
        setCaption(keywordCaption(entry, body));
        return;
    }
    m_kind = Kind::Keyword;
    m_entry = entry;
    m_body = body;
    m_pending = true;
}

void ScanProgress::flush()
{
    m_scanned.flush();
    if (!m_pending)
        return;
    switch (m_kind) {
    case Kind::Text: break;
    case Kind::From: m_caption = fromCaption(m_subject, m_entry); break;
    case Kind::Keyword: m_caption = keywordCaption(m_entry, m_body); break;
    }
    m_kind = Kind::Text;
    m_form.setStatusLine(m_caption);
    m_pending = false;
}

bool ScanProgress::yield()
{
    if (m_sinceYield.isValid() && m_sinceYield.elapsed() < YieldIntervalMs)
        return false;
    flush();
    QCoreApplication::processEvents();
    m_sinceYield.restart();
    return true;
}

} // namespace Scan
