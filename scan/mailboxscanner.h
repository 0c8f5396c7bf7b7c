#pragma once
// The scan over every account and message of the main window, driving the
// hosted control only through its automation interface.

#include "spamarchive.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class frmMain;

namespace Scan {

class MailboxScanner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MailboxScanner)

public:
    explicit MailboxScanner(frmMain &form, QObject *parent = nullptr);

    // Runs one whole scan; returns when it has ended.
    void run();

    // The design limit of message numbers and list sizes (16-bit).
    static constexpr int MaxCount = 32767;

Q_SIGNALS:
    // Every status caption, in the order the scan writes it.
    void captionWritten(const QString &caption);

private:
    void scanAccount(int row);
    void scanMessage(qint16 number);
    bool whitelisted(const QString &from);
    bool blacklisted(const QString &from);
    void showSenderIp();
    bool keywordMatched();
    void spamAction();

    void setCaption(const QString &caption);
    void yield();
    void flushCaption();

    frmMain &m_form;
    QString m_caption;
    bool m_captionPending = false;
    QElapsedTimer m_sinceYield;
    ScannedTotal m_scanned;

    // The current message, upper-cased as the rules compare it.
    QString m_from;
    QString m_fromUpper;
    QString m_subjectUpper;
    QString m_bodyUpper;
    bool m_haveSubject = false;
    bool m_haveBody = false;
};

} // namespace Scan
