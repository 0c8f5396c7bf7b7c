// One scan of one mailbox by the real program code: the main window
// (offscreen, shown), its hosted control, all four rules on and lists of the
// given sizes that match nothing. Prints the scan's wall time, its CPU time
// and how much the process's peak memory grew while it ran.
//
// bench_scan --port P --user U --password W [--host H] [--keywords N]
//            [--whitelist N] [--blacklist N] [--no-prefetch] [--judge-once]
//            [--folder DIR]
//
// --no-prefetch keeps the control's prefetching off whatever the scan asks
// for, so that the per-message exchanges can be measured beside it.
// --judge-once turns "Check each message only once" on; with --folder the
// program folder (and its state database) is kept from run to run.

#include "bench/benchsupport.h"
#include "platform/automation/dispatch.h"
#include "platform/messagebox/messagebox.h"
#include "pop3/include/tarnpostctl.h"
#include "scan/module_scan.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Letters only and at least eight of them: these never occur in the
// generated mail, so no message is judged spam.
QString keyword(int index)
{
    quint32 x = quint32(index) * 2654435761u + 12345u;
    QString word;
    const int length = 8 + index % 5;
    for (int i = 0; i < length; ++i) {
        x = x * 1103515245u + 12345u;
        word += QChar(u'a' + int((x >> 16) % 26));
    }
    return word;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Stands between the window and its control and passes every call on, except
// that the prefetching mode stays off.
class WithoutPrefetch final : public QObject, public Automation::AutomationObject
{
    Q_OBJECT
    Q_INTERFACES(Automation::AutomationObject)

public:
    explicit WithoutPrefetch(Automation::AutomationObject *control)
        : m_control(control)
    {}
    QString classId() const override { return m_control->classId(); }
    QList<Automation::MemberInfo> typeInfo() const override { return m_control->typeInfo(); }
    Automation::InvokeResult invoke(qint32 memberId, Automation::InvokeKind kind, QVariantList &args,
                                    QVariant *result) override
    {
        if (memberId == Tarnpostctl::DispIdPrefetch && kind == Automation::InvokeKind::PropertyPut)
            args = QVariantList{false};
        return m_control->invoke(memberId, kind, args, result);
    }
    void advise(Automation::EventSink *sink) override { m_control->advise(sink); }
    void initNew() override { m_control->initNew(); }
    void load(const Automation::PropertyBag &bag) override { m_control->load(bag); }
    void save(Automation::PropertyBag &bag) const override { m_control->save(bag); }
    QWidget *widget() override { return m_control->widget(); }

private:
    Automation::AutomationObject *m_control;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QCommandLineParser parser;
    const Bench::AccountOptions account;
    account.addTo(parser);
    const QCommandLineOption keywordsOption(u"keywords"_s, u"keyword entries"_s, u"n"_s, u"20"_s);
    const QCommandLineOption whitelistOption(u"whitelist"_s, u"whitelist entries"_s, u"n"_s, u"20"_s);
    const QCommandLineOption blacklistOption(u"blacklist"_s, u"blacklist entries"_s, u"n"_s, u"20"_s);
    const QCommandLineOption noPrefetchOption(u"no-prefetch"_s, u"keep the control's prefetching off"_s);
    const QCommandLineOption judgeOnceOption(u"judge-once"_s, u"check each message only once"_s);
    const QCommandLineOption folderOption(u"folder"_s, u"program folder kept between runs"_s, u"dir"_s);
    parser.addOptions(
        {keywordsOption, whitelistOption, blacklistOption, noPrefetchOption, judgeOnceOption, folderOption});
    parser.process(app);

    QTemporaryDir temporary;
    const QString folderPath = parser.isSet(folderOption) ? parser.value(folderOption) : temporary.path();
    QDir dir(folderPath);
    dir.mkpath(u"."_s);
    dir.mkdir(u"SpamDeleted"_s);
    QFile::link(QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so"), dir.filePath(u"libtarnpostctl.so"_s));
    writeFile(dir.filePath(u"settings.ini"_s), parser.isSet(judgeOnceOption) ? "[Scan]\njudgeOnce=true\n" : "");

    writeFile(dir.filePath(u"accounts.dat"_s), (parser.value(account.host) + u',' + parser.value(account.user) + u','
                                                + parser.value(account.password) + u"\r\n"_s)
                                                   .toUtf8());
    QByteArray list;
    for (int i = 0, n = parser.value(keywordsOption).toInt(); i < n; ++i)
        list += keyword(i).toUtf8() + "\r\n";
    writeFile(dir.filePath(u"keywords.dat"_s), list);
    list.clear();
    for (int i = 0, n = parser.value(whitelistOption).toInt(); i < n; ++i)
        list += "friend" + QByteArray::number(i) + "@white.example\r\n";
    writeFile(dir.filePath(u"whitelist.dat"_s), list);
    list.clear();
    for (int i = 0, n = parser.value(blacklistOption).toInt(); i < n; ++i)
        list += "offers" + QByteArray::number(i) + "@black.example\r\n";
    writeFile(dir.filePath(u"blacklist.dat"_s), list);

    MessageBox::setTestMode(true);
    auto form = std::make_unique<frmMain>(folderPath);
    form->runLoadSequence();
    form->checkautoscan()->setCheckState(Qt::Unchecked);
    for (QCheckBox *rule :
         {form->checkwhitelist(), form->checkblacklist(), form->checkspamcop(), form->checkkeywords()})
        rule->setCheckState(Qt::Checked);
    QObject *const control = form->Tarnpost1().qobject();
    std::unique_ptr<WithoutPrefetch> withoutPrefetch;
    if (parser.isSet(noPrefetchOption)) {
        withoutPrefetch = std::make_unique<WithoutPrefetch>(form->Tarnpost1().object());
        form->Tarnpost1().reset(withoutPrefetch.get());
    }
    form->Tarnpost1().setPOPPort(parser.value(account.port).toInt());
    form->txttotalemailsever()->setText(u"0"_s);
    form->txtEmailsBlockedCount()->setText(u"0"_s);
    form->show();
    QCoreApplication::processEvents();

    const long peakBefore = Bench::peakRssKb();
    const long rssBefore = Bench::currentRssKb();
    QElapsedTimer wall;
    const double cpuBefore = Bench::cpuSeconds();
    wall.start();
    ScanMailboxes(*form);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = Bench::cpuSeconds() - cpuBefore;
    const long peakAfter = Bench::peakRssKb();
    // The window deletes its own control when it goes.
    form->Tarnpost1().reset(control);

    const double scanned = form->txttotalemailsever()->text().toDouble();
    const double blocked = form->txtEmailsBlockedCount()->text().toDouble();
    std::fprintf(stderr, "scanned %.0f messages (%.0f judged spam) in %.3f s; peak RSS %ld -> %ld KB\n", scanned,
                 blocked, seconds, peakBefore, peakAfter);
    Bench::printResult({{"seconds", seconds},
                        {"cpu_seconds", cpu},
                        {"messages", scanned},
                        {"spam", blocked},
                        {"rss_before_kb", double(rssBefore)},
                        // Measured from the resident size at the start, so an earlier
                        // peak (loading the lists) cannot hide the scan's own.
                        {"peak_growth_kb", double(qMax(0L, peakAfter - rssBefore))},
                        {"peak_kb", double(peakAfter)}});
    // A later scan that checks each message once may find nothing new.
    return scanned > 0 || parser.isSet(judgeOnceOption) ? 0 : 1;
}

#include "scan_worker.moc"
