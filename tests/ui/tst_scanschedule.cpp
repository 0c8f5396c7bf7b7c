// The scan timer's schedule and the guard against a second scan, with a fake
// scan procedure standing in for the real one.

#include "config/widgets/ruleswitch.h"
#include "platform/messagebox/messagebox.h"
#include "tests/ui/uitestsupport.h"
#include "ui/frmmain.h"
#include "ui/timerstep.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

class tst_ScanSchedule : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void timerAtCreation();
    void timerStep_data();
    void timerStep();
    void schedule_data();
    void schedule();
    void unusableInterval_data();
    void unusableInterval();
    void switchingOffAndOnKeepsCounter();
    void manualScanLeavesCounter();
    void noSecondScanWhileScanning();
    void noScanAfterEnd();
    void oneScanPerFolder();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_form;
    QList<int> m_scanTicks; // the tick numbers on which a scan ran
    int m_tick = 0;
};

void tst_ScanSchedule::init()
{
    MessageBox::setTestMode(true);
    m_form.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_form = std::make_unique<frmMain>(m_dir->path());
    m_scanTicks.clear();
    m_tick = 0;
    m_form->setScanProcedure([this] { m_scanTicks.append(m_tick); });
}

void tst_ScanSchedule::timerAtCreation()
{
    QCOMPARE(UiTest::Timer1(*m_form)->interval(), 60000);
    QVERIFY(!UiTest::Timer1(*m_form)->isActive());
    QCOMPARE(UiTest::txtTimer(*m_form)->text(), u"0"_s);
    QVERIFY(UiTest::txtTimer(*m_form)->isHidden());
    QCOMPARE(RuleSwitch::value(m_form->checkautoscan()), 0);
}

void tst_ScanSchedule::schedule_data()
{
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("scans");
    QTest::newRow("5") << u"5"_s << 18 << QList<int>{6, 12, 18};
    QTest::newRow("1") << u"1"_s << 7 << QList<int>{2, 4, 6};
    QTest::newRow("0") << u"0"_s << 3 << QList<int>{1, 2, 3};
    QTest::newRow("negative") << u"-3"_s << 2 << QList<int>{1, 2};
    QTest::newRow("2.5") << u"2.5"_s << 9 << QList<int>{3, 6, 9};
    QTest::newRow("blanks around") << u" 2 "_s << 6 << QList<int>{3, 6};
    QTest::newRow("55") << u"55"_s << 112 << QList<int>{56, 112};
}

void tst_ScanSchedule::schedule()
{
    QFETCH(QString, minutes);
    QFETCH(int, ticks);
    QFETCH(QList<int>, scans);
    frmMain &form = *m_form;
    form.combominutes()->setEditText(minutes);
    // Switching auto-scan on runs the first tick at once.
    m_tick = 1;
    form.checkautoscan()->setCheckState(Qt::Checked);
    QVERIFY(UiTest::Timer1(form)->isActive());
    for (m_tick = 2; m_tick <= ticks; ++m_tick)
        form.timerTick();
    QCOMPARE(m_scanTicks, scans);
}

void tst_ScanSchedule::timerStep_data()
{
    QTest::addColumn<QString>("counter");
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<TimerStep::Action>("action");
    QTest::addColumn<int>("next");
    QTest::addColumn<QString>("refusal");
    using A = TimerStep::Action;
    const QString notNumber = u"The scan interval is not a number of minutes."_s;
    const QString tooLong = u"The scan interval is too long for automatic scans."_s;
    QTest::newRow("counting") << u"4"_s << u"5"_s << A::Count << 5 << QString();
    QTest::newRow("due") << u"5"_s << u"5"_s << A::Scan << 0 << QString();
    QTest::newRow("counter not a number") << u"x"_s << u"1"_s << A::Count << 1 << QString();
    QTest::newRow("0") << u"0"_s << u"0"_s << A::Scan << 0 << QString();
    QTest::newRow("negative") << u"0"_s << u"-3"_s << A::Scan << 0 << QString();
    QTest::newRow("2.5 counting") << u"1"_s << u"2.5"_s << A::Count << 2 << QString();
    QTest::newRow("2.5 due") << u"2"_s << u"2.5"_s << A::Scan << 0 << QString();
    QTest::newRow("blanks around") << u"1"_s << u" 2 "_s << A::Count << 2 << QString();
    QTest::newRow("last count") << u"32766"_s << u"40000"_s << A::Count << 32767 << QString();
    QTest::newRow("letters") << u"3"_s << u"abc"_s << A::Refuse << 0 << notNumber;
    QTest::newRow("empty") << u"0"_s << QString() << A::Refuse << 0 << notNumber;
    QTest::newRow("trailing text") << u"2"_s << u"5 min"_s << A::Refuse << 0 << notNumber;
    QTest::newRow("decimal comma") << u"1"_s << u"2,5"_s << A::Refuse << 0 << notNumber;
    QTest::newRow("infinite") << u"1"_s << u"inf"_s << A::Refuse << 0 << notNumber;
    QTest::newRow("counter would pass 32767") << u"32767"_s << u"40000"_s << A::Refuse << 0 << tooLong;
}

void tst_ScanSchedule::timerStep()
{
    QFETCH(QString, counter);
    QFETCH(QString, minutes);
    QFETCH(TimerStep::Action, action);
    QFETCH(int, next);
    QFETCH(QString, refusal);
    const TimerStep step = nextTimerStep(counter, minutes);
    QCOMPARE(step.action, action);
    if (action == TimerStep::Action::Count)
        QCOMPARE(step.counter, next);
    QCOMPARE(step.refusal, refusal);
}

// What the window does with a refused tick; which values are refused is timerStep's.
void tst_ScanSchedule::unusableInterval_data()
{
    QTest::addColumn<QString>("minutes");
    QTest::addColumn<QString>("counter");
    QTest::addColumn<QString>("caption");
    QTest::newRow("letters") << u"abc"_s << u"3"_s << u"The scan interval is not a number of minutes."_s;
    QTest::newRow("counter would pass 32767")
        << u"40000"_s << u"32767"_s << u"The scan interval is too long for automatic scans."_s;
}

void tst_ScanSchedule::unusableInterval()
{
    QFETCH(QString, minutes);
    QFETCH(QString, counter);
    QFETCH(QString, caption);
    frmMain &form = *m_form;
    form.combominutes()->setEditText(minutes);
    UiTest::txtTimer(form)->setText(counter);
    form.Label17()->setText(u"before"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    form.timerTick();
    QVERIFY(m_scanTicks.isEmpty());
    QCOMPARE(UiTest::txtTimer(form)->text(), counter);
    QCOMPARE(form.Label17()->text(), caption);
    QVERIFY(UiTest::Timer1(form)->isActive());
    // A usable value again: the schedule goes on from the counter.
    form.combominutes()->setEditText(u"0"_s);
    UiTest::txtTimer(form)->setText(u"0"_s);
    form.timerTick();
    QCOMPARE(m_scanTicks.size(), 1);
}

void tst_ScanSchedule::switchingOffAndOnKeepsCounter()
{
    frmMain &form = *m_form;
    form.combominutes()->setEditText(u"5"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    form.timerTick();
    form.timerTick();
    QCOMPARE(UiTest::txtTimer(form)->text(), u"3"_s);
    form.checkautoscan()->setCheckState(Qt::Unchecked);
    QVERIFY(!UiTest::Timer1(form)->isActive());
    QCOMPARE(UiTest::txtTimer(form)->text(), u"3"_s);
    // Greyed is not on either.
    form.checkautoscan()->setCheckState(Qt::PartiallyChecked);
    QVERIFY(!UiTest::Timer1(form)->isActive());
    QCOMPARE(UiTest::txtTimer(form)->text(), u"3"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    QVERIFY(UiTest::Timer1(form)->isActive());
    QCOMPARE(UiTest::txtTimer(form)->text(), u"4"_s);
    form.timerTick();
    QVERIFY(m_scanTicks.isEmpty());
    form.timerTick();
    QCOMPARE(m_scanTicks.size(), 1);
    QCOMPARE(UiTest::txtTimer(form)->text(), u"0"_s);
}

void tst_ScanSchedule::manualScanLeavesCounter()
{
    frmMain &form = *m_form;
    form.combominutes()->setEditText(u"5"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    form.timerTick();
    UiTest::click(form, u"cmdscannow"_s);
    QCOMPARE(m_scanTicks.size(), 1);
    QCOMPARE(UiTest::txtTimer(form)->text(), u"2"_s);
    // Manual scans run with auto-scan off too.
    form.checkautoscan()->setCheckState(Qt::Unchecked);
    UiTest::click(form, u"cmdscannow"_s);
    QCOMPARE(m_scanTicks.size(), 2);
}

void tst_ScanSchedule::noSecondScanWhileScanning()
{
    frmMain &form = *m_form;
    int runs = 0;
    QStringList countersDuringScan;
    form.combominutes()->setEditText(u"1"_s);
    form.setScanProcedure([&] {
        ++runs;
        QVERIFY(form.isScanning());
        UiTest::click(form, u"cmdscannow"_s);
        form.runScan();
        // Ticks during the scan still count, and one that reaches its scan
        // point resets the counter without starting a second run.
        form.timerTick();
        countersDuringScan.append(UiTest::txtTimer(form)->text());
        form.timerTick();
        countersDuringScan.append(UiTest::txtTimer(form)->text());
        // Events processed meanwhile (a queued click) start nothing either.
        QSignalSpy clicked(form.findChild<QPushButton *>(u"cmdscannow"_s), &QPushButton::clicked);
        QTimer::singleShot(0, &form, [&form] { UiTest::click(form, u"cmdscannow"_s); });
        QVERIFY(clicked.wait());
    });
    QSignalSpy started(&form, &frmMain::scanStarted);
    QSignalSpy finished(&form, &frmMain::scanFinished);
    UiTest::click(form, u"cmdscannow"_s);
    QCOMPARE(runs, 1);
    QCOMPARE(countersDuringScan, (QStringList{u"1"_s, u"0"_s}));
    QVERIFY(!form.isScanning());
    QCOMPARE(started.size(), 1);
    QCOMPARE(finished.size(), 1);
    UiTest::click(form, u"cmdscannow"_s);
    QCOMPARE(runs, 2);
}

void tst_ScanSchedule::noScanAfterEnd()
{
    frmMain &form = *m_form;
    form.combominutes()->setEditText(u"0"_s);
    form.checkautoscan()->setCheckState(Qt::Checked);
    QCOMPARE(m_scanTicks.size(), 1);
    form.endProgram();
    QVERIFY(!UiTest::Timer1(form)->isActive());
    form.timerTick();
    UiTest::click(form, u"cmdscannow"_s);
    QCOMPARE(m_scanTicks.size(), 1);
}

void tst_ScanSchedule::oneScanPerFolder()
{
    frmMain &form = *m_form;
    const QString lockPath = m_dir->filePath(u"scan.lock"_s);
    // A command-line scan of the same folder holds the lock: no scan here.
    {
        QLockFile other(lockPath);
        QVERIFY(other.tryLock(0));
        UiTest::click(form, u"cmdscannow"_s);
        QVERIFY(m_scanTicks.isEmpty());
        QCOMPARE(form.Label17()->text(), u"Another scan of this folder is running."_s);
    }
    // The window's own scan holds it while it runs, and only then.
    bool heldDuringScan = false;
    form.setScanProcedure([&] {
        QLockFile other(lockPath);
        heldDuringScan = !other.tryLock(0) && other.error() == QLockFile::LockFailedError;
    });
    UiTest::click(form, u"cmdscannow"_s);
    QVERIFY(heldDuringScan);
    QVERIFY(!QFile::exists(lockPath));
}

QTEST_MAIN(tst_ScanSchedule)
#include "tst_scanschedule.moc"
