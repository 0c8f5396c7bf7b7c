// The automation layer without the control: property bag, class registry,
// host errors and the typed proxy over a fake object.
#include "platform/automation/classregistry.h"
#include "platform/automation/controlhost.h"
#include "platform/automation/dispatch.h"
#include "platform/automation/memorypropertybag.h"
#include "pop3/host/tarnpostproxy.h"
#include "pop3/include/tarnpostctl.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

using namespace Automation;
using namespace Qt::StringLiterals;

namespace {

// Records every invoke; answers gets from a value table and can write back or fail.
class FakeControl final : public QObject, public AutomationObject
{
    Q_OBJECT
    Q_INTERFACES(Automation::AutomationObject)

public:
    struct Call
    {
        qint32 id;
        InvokeKind kind;
        QVariantList args;
    };
    QList<Call> calls;
    QHash<qint32, QVariant> values;
    QVariant methodResult;
    QVariant writeBack; // written into args[0] of a method call when valid
    InvokeStatus failWith = InvokeStatus::Ok;

    QString classId() const override { return u"{fake}"_s; }
    QList<MemberInfo> typeInfo() const override { return {}; }
    InvokeResult invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result) override
    {
        calls.append({memberId, kind, args});
        if (failWith != InvokeStatus::Ok)
            return {failWith, u"refused"_s};
        if (kind == InvokeKind::PropertyGet && result)
            *result = values.value(memberId);
        if (kind == InvokeKind::PropertyPut)
            values.insert(memberId, args.value(0));
        if (kind == InvokeKind::Method) {
            if (writeBack.isValid() && !args.isEmpty())
                args[0] = writeBack;
            if (result)
                *result = methodResult;
        }
        return {};
    }
    void advise(EventSink *) override {}
    void initNew() override {}
    void load(const PropertyBag &) override {}
    void save(PropertyBag &) const override {}
    QWidget *widget() override { return nullptr; }
};

using ProxyGetter = std::function<QVariant(TarnpostProxy &)>;

} // namespace

Q_DECLARE_METATYPE(ProxyGetter)

class tst_AutomationLayer final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void propertyBagKeepsWriteOrder();
    void registryAddLookupRemove();
    void registryReplacesProgIdAndKeepsOthers();
    void registryRefusesUnusableIds_data();
    void registryRefusesUnusableIds();
    void registryOverrideIsProcessWide();
    void hostReportsErrors_data();
    void hostReportsErrors();
    void proxyGetterUsesItsMemberId_data();
    void proxyGetterUsesItsMemberId();
    void proxyLetsAndMethods();
    void proxyWhenObjectIsGone();

private:
    QTemporaryDir m_dir;
};

void tst_AutomationLayer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
}

void tst_AutomationLayer::cleanupTestCase() { ClassRegistry::setRegistryPathForTesting({}); }

void tst_AutomationLayer::init()
{
    // A fresh registry file for every test.
    static int counter = 0;
    ClassRegistry::setRegistryPathForTesting(m_dir.filePath(u"registry-%1/classes.ini"_s.arg(++counter)));
}

void tst_AutomationLayer::propertyBagKeepsWriteOrder()
{
    MemoryPropertyBag design{{u"POPTimeout"_s, 120}, {u"POPPort"_s, 110}, {u"POPHostname"_s, QString()}};
    QCOMPARE(design.keys(), (QStringList{u"POPTimeout"_s, u"POPPort"_s, u"POPHostname"_s}));
    QVERIFY(design.writeLog().isEmpty()); // the fill itself is not a save
    QCOMPARE(design.read(u"POPTimeout"_s).toInt(), 120);
    QVERIFY(!design.read(u"POPUsername"_s).isValid());
    QCOMPARE(design.readLog(), (QStringList{u"POPTimeout"_s, u"POPUsername"_s}));

    design.write(u"POPPort"_s, 995);
    design.write(u"POPUsername"_s, u"joe"_s);
    design.write(u"POPPort"_s, 996);
    QCOMPARE(design.keys(), (QStringList{u"POPTimeout"_s, u"POPPort"_s, u"POPHostname"_s, u"POPUsername"_s}));
    QCOMPARE(design.writeLog(), (QStringList{u"POPPort"_s, u"POPUsername"_s, u"POPPort"_s}));
    QCOMPARE(design.read(u"POPPort"_s).toInt(), 996);

    design.remove(u"POPPort"_s);
    QVERIFY(!design.contains(u"POPPort"_s));
    QVERIFY(!design.keys().contains(u"POPPort"_s));

    // Design values kept in a file of the host's own, in file order.
    QFile file(m_dir.filePath(u"design.txt"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# Tarnpost1\nPOPHostname =\nPOPPort = 110\n\n; no user yet\nPOPTimeout=120\nPOPPassword = a=b \n");
    file.close();
    MemoryPropertyBag stored;
    QVERIFY(stored.readDesignValues(file.fileName()));
    QCOMPARE(stored.keys(), (QStringList{u"POPHostname"_s, u"POPPort"_s, u"POPTimeout"_s, u"POPPassword"_s}));
    QCOMPARE(stored.read(u"POPHostname"_s).toString(), QString());
    QCOMPARE(stored.read(u"POPTimeout"_s).toString(), u"120"_s);
    QCOMPARE(stored.read(u"POPPassword"_s).toString(), u"a=b"_s);
    QVERIFY(!stored.readDesignValues(m_dir.filePath(u"missing.txt"_s)));
}

void tst_AutomationLayer::registryAddLookupRemove()
{
    ClassRegistration entry;
    entry.classId = u"{11111111-2222-3333-4444-555555555555}"_s;
    entry.libraryPath = m_dir.filePath(u"libsomething.so"_s);
    entry.className = u"Something"_s;
    entry.progId = u"Maker.Something"_s;
    entry.typeLibraryName = u"Maker"_s;
    entry.typeLibraryVersionMajor = 1;
    entry.typeLibraryVersionMinor = 0;
    entry.typeLibraryHelp = u"Something 1.0"_s;
    QVERIFY(ClassRegistry::addClass(entry));
    QVERIFY(QFile::exists(ClassRegistry::registryPath()));

    const std::optional<ClassRegistration> found = ClassRegistry::lookupClass(entry.classId);
    QVERIFY(found);
    QCOMPARE(found->classId, entry.classId);
    QCOMPARE(found->libraryPath, entry.libraryPath);
    QCOMPARE(found->className, entry.className);
    QCOMPARE(found->progId, entry.progId);
    QCOMPARE(found->typeLibraryName, entry.typeLibraryName);
    QCOMPARE(found->typeLibraryVersionMajor, 1);
    QCOMPARE(found->typeLibraryVersionMinor, 0);
    QCOMPARE(found->typeLibraryHelp, entry.typeLibraryHelp);
    // Ids are not case-sensitive.
    QCOMPARE(ClassRegistry::classIdForProgId(u"maker.something"_s), entry.classId);
    QVERIFY(ClassRegistry::lookupClass(entry.classId.toLower()));
    QCOMPARE(ClassRegistry::classIds(), QStringList{entry.classId});

    QVERIFY(ClassRegistry::removeClass(entry.classId));
    QVERIFY(!ClassRegistry::lookupClass(entry.classId));
    QVERIFY(ClassRegistry::classIdForProgId(entry.progId).isEmpty());
    QVERIFY(ClassRegistry::removeClass(entry.classId)); // unknown now: still fine
}

void tst_AutomationLayer::registryReplacesProgIdAndKeepsOthers()
{
    ClassRegistration first{u"{A}"_s, u"liba.so"_s, u"A"_s, u"Maker.A"_s, u"Maker"_s, 1, 0, {}};
    ClassRegistration second{u"{B}"_s, u"libb.so"_s, u"B"_s, u"Maker.B"_s, u"Maker"_s, 1, 0, {}};
    QVERIFY(ClassRegistry::addClass(first));
    QVERIFY(ClassRegistry::addClass(second));

    // Registered again under a new programmatic id: the old one goes away.
    first.progId = u"Maker.Renamed"_s;
    QVERIFY(ClassRegistry::addClass(first));
    QVERIFY(ClassRegistry::classIdForProgId(u"Maker.A"_s).isEmpty());
    QCOMPARE(ClassRegistry::classIdForProgId(u"Maker.Renamed"_s), u"{A}"_s);

    // Removing one class leaves the other whole.
    QVERIFY(ClassRegistry::removeClass(u"{A}"_s));
    QCOMPARE(ClassRegistry::classIdForProgId(u"Maker.B"_s), u"{B}"_s);
    QCOMPARE(ClassRegistry::lookupClass(u"{B}"_s)->libraryPath, u"libb.so"_s);
}

void tst_AutomationLayer::registryRefusesUnusableIds_data()
{
    QTest::addColumn<QString>("classId");
    QTest::addColumn<QString>("libraryPath");
    QTest::addColumn<QString>("progId");
    QTest::newRow("empty class id") << QString() << u"lib.so"_s << u"Maker.X"_s;
    QTest::newRow("blank class id") << u"  "_s << u"lib.so"_s << u"Maker.X"_s;
    QTest::newRow("slash in class id") << u"{a/b}"_s << u"lib.so"_s << u"Maker.X"_s;
    QTest::newRow("backslash in prog id") << u"{C}"_s << u"lib.so"_s << u"Maker\\X"_s;
    QTest::newRow("no library") << u"{C}"_s << QString() << u"Maker.X"_s;
}

void tst_AutomationLayer::registryRefusesUnusableIds()
{
    QFETCH(QString, classId);
    QFETCH(QString, libraryPath);
    QFETCH(QString, progId);
    QVERIFY(!ClassRegistry::addClass({classId, libraryPath, u"X"_s, progId, {}, 1, 0, {}}));
    QVERIFY(ClassRegistry::classIds().isEmpty());
    QVERIFY(ClassRegistry::classIdForProgId(progId).isEmpty());
}

void tst_AutomationLayer::registryOverrideIsProcessWide()
{
    // Another copy of the registry code (inside a control library) sees the
    // override only through the application object.
    const QString path = m_dir.filePath(u"shared/classes.ini"_s);
    ClassRegistry::setRegistryPathForTesting(path);
    QCOMPARE(qApp->property("quellmail.automation.registryPath").toString(), path);
    QCOMPARE(ClassRegistry::registryPath(), path);

    ClassRegistry::setRegistryPathForTesting({});
    QVERIFY(!qApp->property("quellmail.automation.registryPath").isValid());
    QCOMPARE(ClassRegistry::registryPath(), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                                + u"/quellmail/automation-classes.ini"_s);
}

void tst_AutomationLayer::hostReportsErrors_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("progId");
    QTest::addColumn<QString>("errorContains");
    QTest::newRow("missing library") << u"missing/libnothing.so"_s << QString() << u"not found"_s;
    QTest::newRow("not a library") << u"notalibrary.so"_s << QString() << u"Cannot load"_s;
    QTest::newRow("no library given") << QString() << QString() << u"No library"_s;
    QTest::newRow("unknown prog id") << QString() << u"Maker.Unknown"_s << u"Maker.Unknown"_s;
}

void tst_AutomationLayer::hostReportsErrors()
{
    QFETCH(QString, library);
    QFETCH(QString, progId);
    QFETCH(QString, errorContains);

    QFile junk(m_dir.filePath(u"notalibrary.so"_s));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("this is not an ELF file\n");
    junk.close();

    ControlHost host;
    QObject *object = progId.isEmpty() ? host.create(library.isEmpty() ? QString() : m_dir.filePath(library),
                                                     QString::fromLatin1(Tarnpostctl::ClassIdTarnpost))
                                       : host.createByProgId(progId);
    QVERIFY(!object);
    QVERIFY2(host.errorString().contains(errorContains), qPrintable(host.errorString()));
}

void tst_AutomationLayer::proxyGetterUsesItsMemberId_data()
{
    using namespace Tarnpostctl;
    QTest::addColumn<ProxyGetter>("getter");
    QTest::addColumn<int>("memberId");
    QTest::addColumn<QVariant>("stored");

    const auto row = [](const char *name, ProxyGetter getter, qint32 id, const QVariant &stored) {
        QTest::newRow(name) << getter << int(id) << stored;
    };
    row(
        "Status", [](TarnpostProxy &p) { return QVariant::fromValue(p.Status()); }, DispIdStatus,
        QVariant::fromValue<qint16>(1));
    row(
        "StatusText", [](TarnpostProxy &p) { return QVariant(p.StatusText()); }, DispIdStatusText, u"Connected"_s);
    row(
        "Error", [](TarnpostProxy &p) { return QVariant::fromValue(p.Error()); }, DispIdError,
        QVariant::fromValue<qint16>(27));
    row(
        "ErrorText", [](TarnpostProxy &p) { return QVariant(p.ErrorText()); }, DispIdErrorText, u"e"_s);
    row(
        "POPHostname", [](TarnpostProxy &p) { return QVariant(p.POPHostname()); }, DispIdPOPHostname, u"h"_s);
    row(
        "POPPort", [](TarnpostProxy &p) { return QVariant::fromValue(p.POPPort()); }, DispIdPOPPort,
        QVariant::fromValue<qint32>(995));
    row(
        "POPUsername", [](TarnpostProxy &p) { return QVariant(p.POPUsername()); }, DispIdPOPUsername, u"u"_s);
    row(
        "POPPassword", [](TarnpostProxy &p) { return QVariant(p.POPPassword()); }, DispIdPOPPassword, u"p"_s);
    row(
        "ConnectResponse", [](TarnpostProxy &p) { return QVariant(p.ConnectResponse()); }, DispIdConnectResponse,
        u"+OK hi"_s);
    row(
        "POPTimeout", [](TarnpostProxy &p) { return QVariant::fromValue(p.POPTimeout()); }, DispIdPOPTimeout,
        QVariant::fromValue<qint16>(120));
    row(
        "MsgCount", [](TarnpostProxy &p) { return QVariant::fromValue(p.MsgCount()); }, DispIdMsgCount,
        QVariant::fromValue<qint32>(70000));
    row(
        "MsgNumber", [](TarnpostProxy &p) { return QVariant::fromValue(p.MsgNumber()); }, DispIdMsgNumber,
        QVariant::fromValue<qint16>(3));
    row(
        "MsgUniqueID", [](TarnpostProxy &p) { return QVariant(p.MsgUniqueID()); }, DispIdMsgUniqueID, u"id"_s);
    row(
        "MsgHeaders", [](TarnpostProxy &p) { return QVariant(p.MsgHeaders()); }, DispIdMsgHeaders, u"H"_s);
    row(
        "MsgSubject", [](TarnpostProxy &p) { return QVariant(p.MsgSubject()); }, DispIdMsgSubject, u"S"_s);
    row(
        "MsgFrom", [](TarnpostProxy &p) { return QVariant(p.MsgFrom()); }, DispIdMsgFrom, u"F"_s);
    row(
        "MsgReturnPath", [](TarnpostProxy &p) { return QVariant(p.MsgReturnPath()); }, DispIdMsgReturnPath, u"R"_s);
    row(
        "MsgReplyTo", [](TarnpostProxy &p) { return QVariant(p.MsgReplyTo()); }, DispIdMsgReplyTo, u"T"_s);
    row(
        "MsgDate", [](TarnpostProxy &p) { return QVariant(p.MsgDate()); }, DispIdMsgDate, u"D"_s);
    row(
        "MsgContents", [](TarnpostProxy &p) { return QVariant(p.MsgContents()); }, DispIdMsgContents, u"C"_s);
    row(
        "MsgSizeInK", [](TarnpostProxy &p) { return QVariant::fromValue(p.MsgSizeInK()); }, DispIdMsgSizeInK,
        QVariant::fromValue<qint32>(2));
    row(
        "Version", [](TarnpostProxy &p) { return QVariant(p.Version()); }, DispIdVersion, u"4.1.1"_s);
    row(
        "DebugMode", [](TarnpostProxy &p) { return QVariant(p.DebugMode()); }, DispIdDebugMode, true);
    row(
        "DebugFile", [](TarnpostProxy &p) { return QVariant(p.DebugFile()); }, DispIdDebugFile, u"f.log"_s);
    row(
        "Prefetch", [](TarnpostProxy &p) { return QVariant(p.Prefetch()); }, DispIdPrefetch, true);
    row(
        "QuitConfirmed", [](TarnpostProxy &p) { return QVariant(p.QuitConfirmed()); }, DispIdQuitConfirmed, true);
}

void tst_AutomationLayer::proxyGetterUsesItsMemberId()
{
    QFETCH(ProxyGetter, getter);
    QFETCH(int, memberId);
    QFETCH(QVariant, stored);

    FakeControl fake;
    fake.values.insert(memberId, stored);
    TarnpostProxy proxy(&fake);
    QVERIFY(proxy.isValid());
    const QVariant value = getter(proxy);
    QCOMPARE(value, stored);
    QCOMPARE(value.metaType(), stored.metaType());
    QCOMPARE(fake.calls.size(), 1);
    QCOMPARE(fake.calls.first().id, memberId);
    QCOMPARE(fake.calls.first().kind, InvokeKind::PropertyGet);
    QVERIFY(fake.calls.first().args.isEmpty());
    QVERIFY(proxy.lastResult().ok());
}

void tst_AutomationLayer::proxyLetsAndMethods()
{
    using namespace Tarnpostctl;
    FakeControl fake;
    TarnpostProxy proxy(&fake);

    QVERIFY(proxy.setPOPTimeout(120));
    QCOMPARE(fake.calls.last().id, qint32(DispIdPOPTimeout));
    QCOMPARE(fake.calls.last().kind, InvokeKind::PropertyPut);
    QCOMPARE(fake.calls.last().args, QVariantList{120});
    QVERIFY(proxy.setPrefetch(true));
    QCOMPARE(fake.calls.last().id, qint32(DispIdPrefetch));
    QCOMPARE(fake.calls.last().args, QVariantList{true});

    // SetCurrentMsg receives what the object wrote back.
    fake.writeBack = QVariant::fromValue<qint16>(7);
    qint16 number = 0;
    proxy.SetCurrentMsg(number);
    QCOMPARE(fake.calls.last().id, qint32(DispIdSetCurrentMsg));
    QCOMPARE(fake.calls.last().kind, InvokeKind::Method);
    QCOMPARE(fake.calls.last().args.first().metaType().id(), int(QMetaType::Short));
    QCOMPARE(number, qint16(7));

    fake.writeBack = QVariant();
    fake.methodResult = u"value"_s;
    QString name = u" popport "_s;
    QCOMPARE(proxy.GetStringValueOfProperty(name), u"value"_s);
    QCOMPARE(name, u" popport "_s);
    QCOMPARE(fake.calls.last().id, qint32(DispIdGetStringValueOfProperty));
    QCOMPARE(proxy.GetOtherHeader(u"Received:"_s), u"value"_s);
    QCOMPARE(fake.calls.last().args, QVariantList{u"Received:"_s});

    const QList<std::pair<std::function<void()>, qint32>> plain{
        {[&] { proxy.Connect(); }, DispIdConnect},
        {[&] { proxy.Disconnect(); }, DispIdDisconnect},
        {[&] { proxy.ResetDeletedMsgs(); }, DispIdResetDeletedMsgs},
        {[&] { proxy.DeleteCurrentMsg(); }, DispIdDeleteCurrentMsg},
        {[&] { proxy.RetrieveCurrentMsg(); }, DispIdRetrieveCurrentMsg},
        {[&] {
             QString file = u"x.html"_s;
             proxy.WriteCurrentMsgToFile(file);
         },
         DispIdWriteCurrentMsgToFile},
    };
    for (const auto &[call, id] : plain) {
        call();
        QCOMPARE(fake.calls.last().id, id);
        QCOMPARE(fake.calls.last().kind, InvokeKind::Method);
    }

    // An interface failure is reported, not hidden, and the by-ref argument stays.
    fake.failWith = InvokeStatus::TypeMismatch;
    fake.writeBack = QVariant::fromValue<qint16>(9);
    QVERIFY(!proxy.setPOPPort(u"abc"_s));
    QCOMPARE(proxy.lastResult().status, InvokeStatus::TypeMismatch);
    number = 4;
    proxy.SetCurrentMsg(number);
    QCOMPARE(number, qint16(4));
    QCOMPARE(proxy.POPPort(), 0);
}

void tst_AutomationLayer::proxyWhenObjectIsGone()
{
    auto *fake = new FakeControl;
    fake->values.insert(Tarnpostctl::DispIdPOPHostname, u"h"_s);
    TarnpostProxy proxy(fake);
    QCOMPARE(proxy.POPHostname(), u"h"_s);
    delete fake;

    QVERIFY(!proxy.isValid());
    QVERIFY(proxy.POPHostname().isEmpty());
    QVERIFY(!proxy.lastResult().ok());
    QCOMPARE(proxy.Status(), qint16(Tarnpostctl::StatusDisconnected));
    QVERIFY(!proxy.setPOPPort(110));
    qint16 number = 5;
    proxy.SetCurrentMsg(number);
    QCOMPARE(number, qint16(5));
    proxy.Connect(); // must not crash
    QVERIFY(!proxy.lastResult().ok());

    proxy.reset(nullptr);
    QVERIFY(!proxy.isValid());
}

QTEST_MAIN(tst_AutomationLayer)
#include "tst_automationlayer.moc"
