#pragma once
// Looks for the mail programs' folders on a thread of its own: counting the
// messages of a large mbox reads it whole, which would freeze a window.
// Only the latest search reports; the thread ends on its own when its
// owner is gone first.

#include "mail/mailclientfolders.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QThread;

class FolderDiscovery final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderDiscovery)

public:
    explicit FolderDiscovery(QObject *parent = nullptr);
    ~FolderDiscovery() override;

    // Starts a search under home; found() follows, on this object's thread.
    void start(const QString &home);
    // Whatever a search under way finds is not reported.
    void cancel();
    bool searching() const { return m_searching; }

Q_SIGNALS:
    // The spam and legitimate folders found.
    void found(const QList<Scan::MailClientFolders::Folder> &folders);

private:
    QPointer<QThread> m_thread; // the latest search's, until it is deleted
    quint64 m_search = 0;
    bool m_searching = false;
};
