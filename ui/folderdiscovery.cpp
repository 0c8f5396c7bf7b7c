#include "ui/folderdiscovery.h"

#include <QThread>

#include <memory>

FolderDiscovery::FolderDiscovery(QObject *parent)
    : QObject(parent)
{}

FolderDiscovery::~FolderDiscovery()
{
    // A finished search goes now; one under way deletes itself when done,
    // as waiting for it would freeze the window.
    if (m_thread && m_thread->isFinished())
        delete m_thread;
}

void FolderDiscovery::start(const QString &home)
{
    const quint64 search = ++m_search;
    m_searching = true;
    auto folders = std::make_shared<QList<Scan::MailClientFolders::Folder>>();
    QThread *thread = QThread::create([home, folders] { *folders = Scan::MailClientFolders::discover(home); });
    connect(thread, &QThread::finished, this, [this, search, folders] {
        if (search != m_search)
            return;
        m_searching = false;
        Q_EMIT found(*folders);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_thread = thread;
    thread->start(QThread::LowPriority);
}

void FolderDiscovery::cancel()
{
    ++m_search;
    m_searching = false;
}
