// An archive file opened in a real browser (headless Chromium) shows the
// message as text: no remote image, script, refresh or form reaches a
// server, and no script runs. A local HTTP server counts every connection;
// the same message without the archive's prefix shows that it would.

#include "scan/archivewriter.h"

#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int BrowserLimitMs = 60000;

// The mark a running script leaves in the page.
const QByteArray ScriptMark = "script-ran-here";

QByteArray hostileMessage(quint16 port)
{
    const QByteArray base = "http://127.0.0.1:" + QByteArray::number(port);
    return "From: Pharma <deals@spam.example>\r\nSubject: Offer\r\nContent-Type: text/html\r\n\r\n"
           "<html><head><meta http-equiv=\"refresh\" content=\"0;url="
           + base
           + "/refresh\">"
             "<link rel=\"stylesheet\" href=\""
           + base
           + "/style.css\"></head><body>"
             "<img src=\""
           + base
           + "/pixel.png\">"
             "<script>document.documentElement.setAttribute('data-mark', '"
           + ScriptMark
           + "');"
             "new Image().src = '"
           + base
           + "/script';</script>"
             "<form id=\"f\" action=\""
           + base
           + "/form\" method=\"post\"><input name=\"a\" value=\"1\"></form>"
             "<iframe src=\""
           + base
           + "/frame\"></iframe>"
             "</body></html>\r\n";
}

} // namespace

class tst_ArchiveBrowser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void archiveIsInert_data();
    void archiveIsInert();

private:
    struct Visit
    {
        bool started = false;
        QByteArray dom;
        QByteArray errors;
        int connections = 0;
    };
    Visit open(const QString &file);

    QString m_browser;
    QTemporaryDir m_dir;
    QTcpServer m_server;
    int m_connections = 0;
};

void tst_ArchiveBrowser::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const QString &name : {u"chromium"_s, u"chromium-browser"_s}) {
        m_browser = QStandardPaths::findExecutable(name);
        if (!m_browser.isEmpty())
            break;
    }
    if (m_browser.isEmpty())
        QSKIP("no chromium found (scripts/install-deps.sh installs it)");
    QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (socket->readAll().contains("\r\n\r\n")) {
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    socket->disconnectFromHost();
                }
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

tst_ArchiveBrowser::Visit tst_ArchiveBrowser::open(const QString &file)
{
    Visit visit;
    m_connections = 0;
    QProcess browser;
    const QString profile = m_dir.filePath(u"profile-"_s + QFileInfo(file).baseName());
    // Every name but the local server's fails to resolve, and background
    // services stay off: nothing leaves the machine.
    browser.start(m_browser,
                  {u"--headless=new"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--no-first-run"_s,
                   u"--disable-background-networking"_s, u"--disable-component-update"_s, u"--disable-default-apps"_s,
                   u"--disable-sync"_s, u"--no-pings"_s, u"--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"_s,
                   u"--user-data-dir="_s + profile, u"--virtual-time-budget=3000"_s, u"--dump-dom"_s,
                   QUrl::fromLocalFile(file).toString()});
    QEventLoop loop;
    connect(&browser, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&browser, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(BrowserLimitMs, &loop, &QEventLoop::quit);
    if (browser.state() != QProcess::NotRunning)
        loop.exec();
    if (browser.state() != QProcess::NotRunning) {
        browser.kill();
        browser.waitForFinished(5000);
    }
    // The browser's connections are queued before this probe's: once the probe
    // is answered, every one of them has been counted. -1 fails either check.
    QTcpSocket probe;
    QSignalSpy answered(&probe, &QTcpSocket::disconnected);
    probe.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
    const bool counted =
        probe.waitForConnected(10000) && probe.write("GET / HTTP/1.1\r\n\r\n") > 0 && answered.wait(10000);
    visit.dom = browser.readAllStandardOutput();
    visit.errors = browser.readAllStandardError();
    visit.started = browser.exitStatus() == QProcess::NormalExit && browser.exitCode() == 0 && !visit.dom.isEmpty();
    visit.connections = counted ? m_connections - 1 : -1;
    return visit;
}

void tst_ArchiveBrowser::archiveIsInert_data()
{
    QTest::addColumn<bool>("archived");
    // The bare message proves that the browser would fetch and run it.
    QTest::newRow("bare message") << false;
    QTest::newRow("archive file") << true;
}

void tst_ArchiveBrowser::archiveIsInert()
{
    QFETCH(bool, archived);
    const QByteArray message = hostileMessage(m_server.serverPort());
    QString file;
    if (archived) {
        QVERIFY(QDir(m_dir.path()).mkpath(u"SpamDeleted"_s));
        Scan::ArchiveWriter writer(m_dir.path());
        QVERIFY2(writer.write(u"Offer"_s,
                              [&](const QString &path, QString *) {
                                  QFile f(path);
                                  return f.open(QIODevice::WriteOnly) && f.write(message) == message.size();
                              }),
                 qPrintable(writer.errorString()));
        file = m_dir.filePath(u"SpamDeleted/"_s + writer.fileName());
    } else {
        file = m_dir.filePath(u"bare.html"_s);
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(message) == message.size());
    }

    const Visit visit = open(file);
    if (!visit.started)
        QSKIP(qPrintable(u"chromium cannot start here: "_s + QString::fromLocal8Bit(visit.errors.right(600))));
    if (archived) {
        QCOMPARE(visit.connections, 0);
        QVERIFY2(!visit.dom.contains(QByteArray("data-mark=\"" + ScriptMark)), visit.dom.constData());
        // The markup is there, as text.
        QVERIFY2(visit.dom.contains("<plaintext>From: Pharma"), visit.dom.constData());
        QVERIFY(visit.dom.contains("&lt;script&gt;") || visit.dom.contains("<script>document"));
    } else {
        QVERIFY2(visit.connections > 0, visit.dom.constData());
    }
}

QTEST_MAIN(tst_ArchiveBrowser)
#include "tst_archivebrowser.moc"
