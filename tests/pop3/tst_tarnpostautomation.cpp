// The control library as hosts see it: loaded from the program folder at run
// time, created through its class factory and driven by member id only.
#include "dovecot/dovecotserver.h"
#include "platform/automation/classregistry.h"
#include "platform/automation/controlhost.h"
#include "platform/automation/dispatch.h"
#include "platform/automation/memorypropertybag.h"
#include "pop3/host/tarnpostproxy.h"
#include "pop3/include/tarnpostctl.h"
#include "tests/support/scriptedpop3server.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace Automation;
using namespace Tarnpostctl;
using namespace Qt::StringLiterals;

namespace {

QString libraryPath() { return QStringLiteral(QUELLMAIL_BIN_DIR "/libtarnpostctl.so"); }

QStringList g_messages;

void recordMessage(void *, const QString &text) { g_messages.append(text); }

using MessageBoxHook = void (*)(void *context, const QString &text);
using MessageBoxHookSetter = void (*)(MessageBoxHook hook, void *context);

QVariant get(AutomationObject *object, qint32 id)
{
    QVariantList args;
    QVariant value;
    const InvokeResult result = object->invoke(id, InvokeKind::PropertyGet, args, &value);
    return result.ok() ? value : QVariant();
}

InvokeStatus let(AutomationObject *object, qint32 id, const QVariant &value)
{
    QVariantList args{value};
    return object->invoke(id, InvokeKind::PropertyPut, args).status;
}

InvokeStatus call(AutomationObject *object, qint32 id, QVariantList &args, QVariant *result = nullptr)
{
    return object->invoke(id, InvokeKind::Method, args, result).status;
}

// Sees every event; optionally assigns the total, which is passed by reference.
class RecordingSink final : public EventSink
{
public:
    QList<qint32> ids;
    QList<QVariantList> events;
    std::optional<qint32> assignTotal;

    void invokeEvent(qint32 memberId, QVariantList &args) override
    {
        ids.append(memberId);
        events.append(args);
        if (assignTotal && args.size() == 3)
            args[1] = QVariant::fromValue<qint32>(*assignTotal);
    }
};

// A non-control object for the property page: records the order of its calls.
class RecordingObject final : public AutomationObject
{
public:
    QStringList calls;
    QHash<qint32, QVariant> values;

    QString classId() const override { return {}; }
    QList<MemberInfo> typeInfo() const override { return {}; }
    InvokeResult invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result) override
    {
        calls.append(u"%1:%2"_s.arg(kind == InvokeKind::PropertyPut ? u"let"_s : u"get"_s).arg(memberId, 0, 16));
        if (kind == InvokeKind::PropertyGet && result)
            *result = values.value(memberId);
        else if (kind == InvokeKind::PropertyPut)
            values.insert(memberId, args.value(0));
        return {};
    }
    void advise(EventSink *) override {}
    void initNew() override {}
    void load(const PropertyBag &) override {}
    void save(PropertyBag &) const override {}
    QWidget *widget() override { return nullptr; }
};

struct Created
{
    std::unique_ptr<QObject> object;
    AutomationObject *control = nullptr;
    QString error;
};

Created createControl()
{
    ControlHost host;
    Created created;
    created.object.reset(host.create(libraryPath(), QString::fromLatin1(ClassIdTarnpost)));
    created.control = qobject_cast<AutomationObject *>(created.object.get());
    created.error = host.errorString();
    if (created.control)
        created.control->initNew();
    return created;
}

const QByteArray Greeting = "+OK scripted ready\r\n";

void scriptLogin(ScriptedPop3Server &server, const QByteArray &stat)
{
    server.setGreeting({Greeting});
    server.expect("USER joe", {"+OK\r\n"});
    server.expect("PASS secret", {"+OK\r\n"});
    server.expect("STAT", {stat});
}

void connectTo(AutomationObject *control, quint16 port, const QString &host = u"127.0.0.1"_s,
               const QString &user = u"joe"_s, const QString &password = u"secret"_s)
{
    let(control, DispIdPOPHostname, host);
    let(control, DispIdPOPPort, QVariant::fromValue<qint32>(port));
    let(control, DispIdPOPUsername, user);
    let(control, DispIdPOPPassword, password);
    QVariantList none;
    call(control, DispIdConnect, none);
}

// The interface hosts were built against, slot by slot: order, ids, names,
// kinds, types and parameters.
const QList<MemberInfo> &publishedSlots()
{
    static const QList<MemberInfo> published = [] {
        QList<MemberInfo> list;
        const auto get = [&list](qint32 id, const char *name, QMetaType::Type type) {
            list.append(
                {id, QString::fromLatin1(name), MemberKind::PropertyGet, InvokeKind::PropertyGet, type, {}, {}});
        };
        const auto getLet = [&list](qint32 id, const char *name, QMetaType::Type type) {
            const QString n = QString::fromLatin1(name);
            list.append({id, n, MemberKind::PropertyGetLet, InvokeKind::PropertyGet, type, {}, {}});
            list.append(
                {id, n, MemberKind::PropertyGetLet, InvokeKind::PropertyPut, type, {{u"value"_s, type, false}}, {}});
        };
        const auto method = [&list](qint32 id, const char *name, QMetaType::Type result, const char *param = nullptr,
                                    QMetaType::Type paramType = QMetaType::UnknownType, bool byRef = false) {
            QList<ParamInfo> params;
            if (param)
                params.append({QString::fromLatin1(param), paramType, byRef});
            list.append({id, QString::fromLatin1(name), MemberKind::Method, InvokeKind::Method, result, params, {}});
        };
        const auto S = QMetaType::QString;
        get(0x68030017, "Status", QMetaType::Short);
        get(0x68030016, "StatusText", S);
        get(0x68030015, "Error", QMetaType::Short);
        get(0x68030014, "ErrorText", S);
        getLet(0x68030013, "POPHostname", S);
        getLet(0x68030012, "POPPort", QMetaType::Int);
        getLet(0x68030011, "POPUsername", S);
        getLet(0x68030010, "POPPassword", S);
        get(0x6803000F, "ConnectResponse", S);
        getLet(0x6803000E, "POPTimeout", QMetaType::Short);
        get(0x6803000D, "MsgCount", QMetaType::Int);
        get(0x6803000C, "MsgNumber", QMetaType::Short);
        get(0x6803000B, "MsgUniqueID", S);
        get(0x6803000A, "MsgHeaders", S);
        get(0x68030009, "MsgSubject", S);
        get(0x68030008, "MsgFrom", S);
        get(0x68030007, "MsgReturnPath", S);
        get(0x68030006, "MsgReplyTo", S);
        get(0x68030005, "MsgDate", S);
        get(0x68030004, "MsgContents", S);
        get(0x68030003, "MsgSizeInK", QMetaType::Int);
        getLet(0x68030002, "Version", S);
        getLet(0x68030001, "DebugMode", QMetaType::Bool);
        getLet(0x68030000, "DebugFile", S);
        const auto V = QMetaType::Void;
        method(0x6003001E, "Connect", V);
        method(0x6003001F, "Disconnect", V);
        method(0x60030020, "ResetDeletedMsgs", V);
        method(0x60030021, "DeleteCurrentMsg", V);
        method(0x60030022, "GetOtherHeader", S, "strHeaderToSearchFor", S);
        method(0x60030023, "GetStringValueOfProperty", S, "strPropertyToReturn", S, true);
        method(0x60030024, "SetCurrentMsg", V, "intMsgNumber", QMetaType::Short, true);
        method(0x60030025, "RetrieveCurrentMsg", V);
        method(0x60030026, "WriteCurrentMsgToFile", V, "strFileToWriteTo", S, true);
        // The 41 original slots keep their places; later members follow them.
        getLet(0x68030018, "POPSecurity", QMetaType::Short);
        getLet(0x68030019, "MaxMessageSize", QMetaType::Int);
        getLet(0x6803001A, "Prefetch", QMetaType::Bool);
        get(0x6803001B, "QuitConfirmed", QMetaType::Bool);
        getLet(0x6803001C, "AccessToken", S);
        method(0x60030027, "GetUniqueIDList", S);
        method(0x60030028, "SkipMsg", V, "intMsgNumber", QMetaType::Short);
        return list;
    }();
    return published;
}

} // namespace

class tst_TarnpostAutomation final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void memberTable_data();
    void memberTable();
    void everySlotReachable_data();
    void everySlotReachable();
    void refusedInvokes_data();
    void refusedInvokes();
    void readOnlyPropertiesRefuseLets();
    void propertyLetsConvert_data();
    void propertyLetsConvert();
    void newControlDefaults();
    void stringValueOfProperty_data();
    void stringValueOfProperty();
    void errorIsReadThenCleared();
    void versionLetOnlyShowsMessage();
    void versionMessageIsAModalBoxWithOk();
    void persistedPropertiesRoundTrip();
    void missingKeysGiveEmptyValues();
    void staysThirtyTwoPixels_data();
    void staysThirtyTwoPixels();
    void propertyPageFillsAndApplies();
    void propertyPageRefusedValuesKeepProperties();
    void propertyPageOrder();
    void entryPoints();
    void canUnloadNowFollowsLiveObjects();
    void registerThenCreateByProgId();
    void proxyOverTheRealControl();
    void eventSinkAssignsTotal();
    void destroyingConnectedControlSendsQuit();
    void destroyingConnectedControlCommitsDeletions();

private:
    QTemporaryDir m_dir;
    QLibrary m_library;
};

void tst_TarnpostAutomation::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    QVERIFY2(QFileInfo::exists(libraryPath()), qPrintable(libraryPath()));
    ClassRegistry::setRegistryPathForTesting(m_dir.filePath(u"registry/classes.ini"_s));

    m_library.setFileName(libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    const auto setHook =
        reinterpret_cast<MessageBoxHookSetter>(m_library.resolve("TarnpostSetMessageBoxHookForTesting"));
    QVERIFY(setHook);
    setHook(&recordMessage, nullptr);
}

void tst_TarnpostAutomation::cleanupTestCase() { ClassRegistry::setRegistryPathForTesting({}); }

void tst_TarnpostAutomation::init() { g_messages.clear(); }

// ---- The member table ----

void tst_TarnpostAutomation::memberTable_data()
{
    // A row per slot the control has, so that none goes unchecked.
    QTest::addColumn<int>("slot");
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    const QList<MemberInfo> table = created.control->typeInfo();
    for (int slot = 0; slot < table.size(); ++slot) {
        const InvokeKind kind = table.at(slot).invokeKind;
        QTest::addRow("%d %s%s", slot, qPrintable(table.at(slot).name),
                      kind == InvokeKind::PropertyGet   ? " get"
                      : kind == InvokeKind::PropertyPut ? " let"
                                                        : "")
            << slot;
    }
}

void tst_TarnpostAutomation::memberTable()
{
    QFETCH(int, slot);
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    const QList<MemberInfo> table = created.control->typeInfo();
    // The slot order is part of the interface: nothing added, dropped or moved.
    QCOMPARE(table.size(), publishedSlots().size());
    const MemberInfo &info = table.at(slot);
    const MemberInfo &published = publishedSlots().at(slot);
    QCOMPARE(info.id, published.id);
    QCOMPARE(info.invokeKind, published.invokeKind);
    QCOMPARE(info.name, published.name);
    QCOMPARE(info.kind, published.kind);
    QCOMPARE(info.type, published.type);
    // The help texts are the control's own words: each member has one.
    QVERIFY(!info.helpString.trimmed().isEmpty());
    if (info.invokeKind == InvokeKind::PropertyPut)
        QCOMPARE(info.helpString, table.at(slot - 1).helpString); // one text for the get and the let
    QCOMPARE(info.params.size(), published.params.size());
    for (qsizetype i = 0; i < info.params.size(); ++i) {
        QCOMPARE(info.params.at(i).name, published.params.at(i).name);
        QCOMPARE(info.params.at(i).type, published.params.at(i).type);
        QCOMPARE(info.params.at(i).byReference, published.params.at(i).byReference);
    }
}

void tst_TarnpostAutomation::everySlotReachable_data() { memberTable_data(); }

void tst_TarnpostAutomation::everySlotReachable()
{
    QFETCH(int, slot);
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    const MemberInfo member = control->typeInfo().at(slot);
    const qint32 id = member.id;
    const int type = member.type;
    // Offline every exchange ends at once on the closed socket; keep any wait short anyway.
    QCOMPARE(let(control, DispIdPOPTimeout, 1), InvokeStatus::Ok);

    QVariantList args;
    QVariant result;
    if (member.invokeKind == InvokeKind::PropertyGet) {
        QCOMPARE(control->invoke(id, InvokeKind::PropertyGet, args, &result).status, InvokeStatus::Ok);
        QCOMPARE(result.metaType().id(), type);
        return;
    }
    if (member.invokeKind == InvokeKind::PropertyPut) {
        QVariant value;
        switch (type) {
        case QMetaType::QString: value = u"text-%1"_s.arg(member.name); break;
        case QMetaType::Int: value = QVariant::fromValue<qint32>(2110); break;
        case QMetaType::Short: value = QVariant::fromValue<qint16>(id == DispIdPOPSecurity ? SecurityStls : 7); break;
        case QMetaType::Bool: value = true; break;
        }
        args = {value};
        QCOMPARE(control->invoke(id, InvokeKind::PropertyPut, args, &result).status, InvokeStatus::Ok);
        if (id == DispIdVersion) {
            QCOMPARE(get(control, id).toString(), u"4.1.1"_s);
            QCOMPARE(g_messages, QStringList{u"Property is Read-only"_s});
        } else {
            QCOMPARE(get(control, id), value);
            QVERIFY(g_messages.isEmpty());
        }
        return;
    }

    // Methods, offline: each one's own error code proves the call reached it.
    static const QHash<int, int> offlineError{
        {DispIdConnect, ErrorBlankHostname},
        {DispIdDisconnect, ErrorNone},
        {DispIdGetOtherHeader, ErrorNone},
        {DispIdResetDeletedMsgs, ErrorResetDisconnected},
        {DispIdDeleteCurrentMsg, ErrorDeleteDisconnected},
        {DispIdGetStringValueOfProperty, ErrorNone},
        {DispIdSetCurrentMsg, ErrorSetMsgDisconnected},
        {DispIdRetrieveCurrentMsg, ErrorRetrieveDisconnected},
        {DispIdWriteCurrentMsgToFile, ErrorRetrieveDisconnected},
        {DispIdGetUniqueIDList, ErrorNone},
        {DispIdSkipMsg, ErrorSetMsgDisconnected},
    };
    if (!member.params.isEmpty()) {
        if (member.params.first().type == QMetaType::Short)
            args = {QVariant::fromValue<qint16>(1)};
        else if (id == DispIdWriteCurrentMsgToFile)
            args = {m_dir.filePath(u"out.html"_s)};
        else
            args = {u"Subject"_s};
    }
    const QVariantList before = args;
    QCOMPARE(control->invoke(id, InvokeKind::Method, args, &result).status, InvokeStatus::Ok);
    QCOMPARE(get(control, DispIdError).toInt(), offlineError.value(id, -1));
    QCOMPARE(result.metaType().id(), type == QMetaType::Void ? int(QMetaType::UnknownType) : type);
    QCOMPARE(args, before); // nothing written back offline (no message selected)
}

void tst_TarnpostAutomation::refusedInvokes_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<int>("status");

    const int get = int(InvokeKind::PropertyGet);
    const int put = int(InvokeKind::PropertyPut);
    const int method = int(InvokeKind::Method);
    const int unknown = int(InvokeStatus::UnknownMember);
    const int notSupported = int(InvokeStatus::NotSupported);
    const int badCount = int(InvokeStatus::BadArgumentCount);
    const int mismatch = int(InvokeStatus::TypeMismatch);

    QTest::newRow("unknown id, get") << 0x12345 << get << QVariantList{} << unknown;
    QTest::newRow("unknown id, method") << 0x600300FF << method << QVariantList{} << unknown;
    QTest::newRow("event id is no member") << 1 << method << QVariantList{} << unknown;
    QTest::newRow("get on a method") << int(DispIdConnect) << get << QVariantList{} << notSupported;
    QTest::newRow("let on a method") << int(DispIdConnect) << put << QVariantList{1} << notSupported;
    QTest::newRow("method call of a property") << int(DispIdStatus) << method << QVariantList{} << notSupported;
    QTest::newRow("get with an argument") << int(DispIdPOPPort) << get << QVariantList{1} << badCount;
    QTest::newRow("let without value") << int(DispIdPOPPort) << put << QVariantList{} << badCount;
    QTest::newRow("let with two values") << int(DispIdPOPPort) << put << QVariantList{1, 2} << badCount;
    QTest::newRow("Connect with an argument") << int(DispIdConnect) << method << QVariantList{1} << badCount;
    QTest::newRow("SetCurrentMsg without argument") << int(DispIdSetCurrentMsg) << method << QVariantList{} << badCount;
    QTest::newRow("GetOtherHeader with two")
        << int(DispIdGetOtherHeader) << method << QVariantList{u"a"_s, u"b"_s} << badCount;
    QTest::newRow("SetCurrentMsg text") << int(DispIdSetCurrentMsg) << method << QVariantList{u"abc"_s} << mismatch;
    QTest::newRow("SetCurrentMsg above 16 bits")
        << int(DispIdSetCurrentMsg) << method << QVariantList{40000} << mismatch;
    QTest::newRow("GetOtherHeader with a point")
        << int(DispIdGetOtherHeader) << method << QVariantList{QPoint(1, 2)} << mismatch;
    QTest::newRow("WriteCurrentMsgToFile with a list")
        << int(DispIdWriteCurrentMsgToFile) << method << QVariantList{QVariant(QVariantList{1, 2})} << mismatch;
}

void tst_TarnpostAutomation::refusedInvokes()
{
    QFETCH(int, id);
    QFETCH(int, kind);
    QFETCH(QVariantList, args);
    QFETCH(int, status);

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    const QVariantList before = args;
    QVariant result = u"untouched"_s;
    const InvokeResult outcome = created.control->invoke(id, InvokeKind(kind), args, &result);
    QCOMPARE(int(outcome.status), status);
    QVERIFY(!outcome.description.isEmpty());
    QCOMPARE(args, before);
    QVERIFY(!result.isValid());
    // A refused call is not a call: nothing ran, so no error code either.
    QCOMPARE(get(created.control, DispIdError).toInt(), int(ErrorNone));
}

void tst_TarnpostAutomation::readOnlyPropertiesRefuseLets()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    int readOnly = 0;
    for (const MemberInfo &info : control->typeInfo()) {
        if (info.kind != MemberKind::PropertyGet)
            continue;
        ++readOnly;
        const QVariant before = get(control, info.id);
        QVariantList args{QVariant::fromValue<qint16>(5)};
        QCOMPARE(control->invoke(info.id, InvokeKind::PropertyPut, args).status, InvokeStatus::NotSupported);
        QCOMPARE(get(control, info.id), before);
    }
    QCOMPARE(readOnly, 17);
    QVERIFY(g_messages.isEmpty());
}

void tst_TarnpostAutomation::propertyLetsConvert_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("status");
    QTest::addColumn<QVariant>("expected"); // what the property reads afterwards

    const int ok = int(InvokeStatus::Ok);
    const int mismatch = int(InvokeStatus::TypeMismatch);
    const auto port = [](qint32 v) { return QVariant::fromValue<qint32>(v); };
    const auto timeout = [](qint16 v) { return QVariant::fromValue<qint16>(v); };

    QTest::newRow("port abc") << int(DispIdPOPPort) << QVariant(u"abc"_s) << mismatch << port(110);
    QTest::newRow("port empty text") << int(DispIdPOPPort) << QVariant(u""_s) << mismatch << port(110);
    QTest::newRow("port number text") << int(DispIdPOPPort) << QVariant(u" 995 "_s) << ok << port(995);
    QTest::newRow("port 12abc") << int(DispIdPOPPort) << QVariant(u"12abc"_s) << mismatch << port(110);
    QTest::newRow("port double rounds half to even") << int(DispIdPOPPort) << QVariant(2.5) << ok << port(2);
    QTest::newRow("port beyond 32 bits") << int(DispIdPOPPort) << QVariant(qint64(1) << 32) << mismatch << port(110);
    QTest::newRow("port empty variant") << int(DispIdPOPPort) << QVariant() << ok << port(0);
    QTest::newRow("port list") << int(DispIdPOPPort) << QVariant(QVariantList{1}) << mismatch << port(110);
    QTest::newRow("timeout 40000") << int(DispIdPOPTimeout) << QVariant(40000) << mismatch << timeout(10);
    QTest::newRow("timeout 32767") << int(DispIdPOPTimeout) << QVariant(u"32767"_s) << ok << timeout(32767);
    QTest::newRow("timeout -32768") << int(DispIdPOPTimeout) << QVariant(-32768) << ok << timeout(-32768);
    QTest::newRow("timeout -32769") << int(DispIdPOPTimeout) << QVariant(-32769) << mismatch << timeout(10);
    QTest::newRow("timeout text 40000") << int(DispIdPOPTimeout) << QVariant(u"40000"_s) << mismatch << timeout(10);
    QTest::newRow("timeout abc") << int(DispIdPOPTimeout) << QVariant(u"abc"_s) << mismatch << timeout(10);
    QTest::newRow("timeout NaN") << int(DispIdPOPTimeout) << QVariant(qQNaN()) << mismatch << timeout(10);
    QTest::newRow("debug True") << int(DispIdDebugMode) << QVariant(u"True"_s) << ok << QVariant(true);
    QTest::newRow("debug tRUE") << int(DispIdDebugMode) << QVariant(u"tRUE"_s) << ok << QVariant(true);
    QTest::newRow("debug -1") << int(DispIdDebugMode) << QVariant(-1) << ok << QVariant(true);
    QTest::newRow("debug 0 text") << int(DispIdDebugMode) << QVariant(u"0"_s) << ok << QVariant(false);
    QTest::newRow("debug yes") << int(DispIdDebugMode) << QVariant(u"yes"_s) << mismatch << QVariant(false);
    QTest::newRow("host number") << int(DispIdPOPHostname) << QVariant(42) << ok << QVariant(u"42"_s);
    QTest::newRow("host empty variant") << int(DispIdPOPHostname) << QVariant() << ok << QVariant(u""_s);
    QTest::newRow("host point") << int(DispIdPOPHostname) << QVariant(QPoint(1, 2)) << mismatch
                                << QVariant(u"before"_s);
    const auto size = [](qint32 v) { return QVariant::fromValue<qint32>(v); };
    QTest::newRow("max size text") << int(DispIdMaxMessageSize) << QVariant(u" 2048 "_s) << ok << size(2048);
    QTest::newRow("max size 1") << int(DispIdMaxMessageSize) << QVariant(1) << ok << size(1);
    QTest::newRow("max size 0") << int(DispIdMaxMessageSize) << QVariant(0) << mismatch << size(104857600);
    QTest::newRow("max size negative") << int(DispIdMaxMessageSize) << QVariant(-5) << mismatch << size(104857600);
    QTest::newRow("max size beyond 32 bits")
        << int(DispIdMaxMessageSize) << QVariant(qint64(1) << 31) << mismatch << size(104857600);
    QTest::newRow("prefetch text") << int(DispIdPrefetch) << QVariant(u" TRUE "_s) << ok << QVariant(true);
    QTest::newRow("prefetch number") << int(DispIdPrefetch) << QVariant(0) << ok << QVariant(false);
    QTest::newRow("prefetch yes") << int(DispIdPrefetch) << QVariant(u"yes"_s) << mismatch << QVariant(false);
    QTest::newRow("access token point") << int(DispIdAccessToken) << QVariant(QPoint(1, 2)) << mismatch
                                        << QVariant(QString());
    QTest::newRow("debug file bytes") << int(DispIdDebugFile) << QVariant(QByteArray("log\xe9.txt")) << ok
                                      << QVariant(u"log\u00e9.txt"_s);
}

void tst_TarnpostAutomation::propertyLetsConvert()
{
    QFETCH(int, id);
    QFETCH(QVariant, value);
    QFETCH(int, status);
    QFETCH(QVariant, expected);

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    QCOMPARE(let(control, DispIdPOPHostname, u"before"_s), InvokeStatus::Ok);

    QCOMPARE(int(let(control, id, value)), status);
    const QVariant now = get(control, id);
    QCOMPARE(now, expected);
    QCOMPARE(now.metaType(), expected.metaType());
}

void tst_TarnpostAutomation::newControlDefaults()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    QCOMPARE(let(control, DispIdPOPPort, 995), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdPOPUsername, u"u"_s), InvokeStatus::Ok);
    control->initNew();

    QCOMPARE(get(control, DispIdPOPPort), QVariant::fromValue<qint32>(110));
    QCOMPARE(get(control, DispIdPOPTimeout), QVariant::fromValue<qint16>(10));
    QCOMPARE(get(control, DispIdPOPHostname).toString(), QString());
    QCOMPARE(get(control, DispIdPOPUsername).toString(), QString());
    QCOMPARE(get(control, DispIdPOPPassword).toString(), QString());
    QCOMPARE(get(control, DispIdStatus), QVariant::fromValue<qint16>(StatusDisconnected));
    QCOMPARE(get(control, DispIdStatusText).toString(), u"Disconnected"_s);
    QCOMPARE(get(control, DispIdError), QVariant::fromValue<qint16>(ErrorNone));
    QCOMPARE(get(control, DispIdDebugMode), QVariant(false));
    QCOMPARE(get(control, DispIdPrefetch), QVariant(false));
    QCOMPARE(get(control, DispIdQuitConfirmed), QVariant(false));
    QCOMPARE(get(control, DispIdAccessToken), QVariant(QString()));
    QCOMPARE(get(control, DispIdMsgCount), QVariant::fromValue<qint32>(0));
    QCOMPARE(get(control, DispIdVersion).toString(), u"4.1.1"_s);
    QCOMPARE(created.control->classId(), QString::fromLatin1(ClassIdTarnpost));
}

void tst_TarnpostAutomation::stringValueOfProperty_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("debugOn");
    QTest::addColumn<QString>("expected");

    QTest::newRow("popport lower case with blanks") << u"  popport "_s << false << u"110"_s;
    QTest::newRow("POPTIMEOUT") << u"POPTIMEOUT"_s << false << u"10"_s;
    QTest::newRow("hostname") << u"PopHostName"_s << false << u"mail.example.test"_s;
    QTest::newRow("Version is not in the table") << u"Version"_s << false << QString();
    QTest::newRow("DebugMode off") << u"DebugMode"_s << false << u"False"_s;
    QTest::newRow("DebugMode on") << u"debugmode"_s << true << u"True"_s;
    QTest::newRow("Status") << u"status"_s << false << u"0"_s;
    QTest::newRow("StatusText") << u"StatusText"_s << false << u"Disconnected"_s;
    QTest::newRow("MsgCount") << u"MSGCOUNT"_s << false << u"0"_s;
    // Only the names the interface first had are answered.
    QTest::newRow("MaxMessageSize is not in the table") << u"maxMessageSize"_s << false << QString();
    QTest::newRow("Prefetch is not in the table") << u"PREFETCH"_s << false << QString();
    QTest::newRow("POPSecurity is not in the table") << u"POPSecurity"_s << false << QString();
    QTest::newRow("QuitConfirmed is not in the table") << u"QuitConfirmed"_s << false << QString();
    QTest::newRow("AccessToken is not in the table") << u"AccessToken"_s << false << QString();
    QTest::newRow("tab is not a blank") << u"\tPOPPORT"_s << false << QString();
    QTest::newRow("unknown name") << u"nonsense"_s << false << QString();
    QTest::newRow("empty name") << QString() << false << QString();
}

void tst_TarnpostAutomation::stringValueOfProperty()
{
    QFETCH(QString, name);
    QFETCH(bool, debugOn);
    QFETCH(QString, expected);

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    QCOMPARE(let(control, DispIdPOPHostname, u"mail.example.test"_s), InvokeStatus::Ok);
    if (debugOn) {
        QCOMPARE(let(control, DispIdDebugFile, m_dir.filePath(u"debug.log"_s)), InvokeStatus::Ok);
        QCOMPARE(let(control, DispIdDebugMode, true), InvokeStatus::Ok);
    }

    QVariantList args{name};
    QVariant result;
    QCOMPARE(call(control, DispIdGetStringValueOfProperty, args, &result), InvokeStatus::Ok);
    QCOMPARE(result.metaType().id(), int(QMetaType::QString));
    QCOMPARE(result.toString(), expected);
    QCOMPARE(args, QVariantList{name}); // by reference, but never changed
}

void tst_TarnpostAutomation::errorIsReadThenCleared()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    QVariantList none;
    QCOMPARE(call(control, DispIdDeleteCurrentMsg, none), InvokeStatus::Ok);
    QCOMPARE(get(control, DispIdError), QVariant::fromValue<qint16>(ErrorDeleteDisconnected));
    QCOMPARE(get(control, DispIdErrorText).toString(), u"Cannot delete message when disconnected"_s);

    QVariantList args{u"Error"_s};
    QVariant result;
    QCOMPARE(call(control, DispIdGetStringValueOfProperty, args, &result), InvokeStatus::Ok);
    QCOMPARE(result.toString(), u"27"_s);
    QCOMPARE(get(control, DispIdError), QVariant::fromValue<qint16>(ErrorNone));
    QCOMPARE(get(control, DispIdErrorText).toString(), QString());

    // Any name clears the code, one outside the table too.
    QCOMPARE(call(control, DispIdResetDeletedMsgs, none), InvokeStatus::Ok);
    QCOMPARE(get(control, DispIdError), QVariant::fromValue<qint16>(ErrorResetDisconnected));
    args = {u"nothing"_s};
    QCOMPARE(call(control, DispIdGetStringValueOfProperty, args, &result), InvokeStatus::Ok);
    QCOMPARE(result.toString(), QString());
    QCOMPARE(get(control, DispIdError), QVariant::fromValue<qint16>(ErrorNone));
}

void tst_TarnpostAutomation::versionLetOnlyShowsMessage()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    QCOMPARE(let(control, DispIdVersion, u"9.9.9"_s), InvokeStatus::Ok);
    QCOMPARE(g_messages, QStringList{u"Property is Read-only"_s});
    QCOMPARE(get(control, DispIdVersion), QVariant(u"4.1.1"_s));

    QCOMPARE(let(control, DispIdVersion, QVariant()), InvokeStatus::Ok);
    QCOMPARE(g_messages.size(), 2);
    QCOMPARE(get(control, DispIdVersion), QVariant(u"4.1.1"_s));
}

void tst_TarnpostAutomation::versionMessageIsAModalBoxWithOk()
{
    const auto setHook =
        reinterpret_cast<MessageBoxHookSetter>(m_library.resolve("TarnpostSetMessageBoxHookForTesting"));
    QVERIFY(setHook);
    setHook(nullptr, nullptr); // the real box this time
    const auto restore = qScopeGuard([setHook] { setHook(&recordMessage, nullptr); });

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));

    QString seenText;
    int seenButtons = -1;
    bool seenModal = false;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        answer.stop();
        seenText = box->text();
        seenButtons = int(box->buttons().size());
        seenModal = box->isModal();
        box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    QCOMPARE(let(created.control, DispIdVersion, u"5"_s), InvokeStatus::Ok);
    QCOMPARE(seenText, u"Property is Read-only"_s);
    QCOMPARE(seenButtons, 1);
    QVERIFY(seenModal);
    QCOMPARE(get(created.control, DispIdVersion), QVariant(u"4.1.1"_s));
}

// ---- Persistence and face ----

void tst_TarnpostAutomation::persistedPropertiesRoundTrip()
{
    Created first = createControl();
    QVERIFY2(first.control, qPrintable(first.error));
    AutomationObject *control = first.control;
    QCOMPARE(let(control, DispIdPOPHostname, u"pop.example.test"_s), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdPOPPort, 995), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdPOPUsername, u"joe"_s), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdPOPPassword, u"s3cr\u00e9t pass"_s), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdPOPTimeout, 120), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdDebugMode, true), InvokeStatus::Ok);
    QCOMPARE(let(control, DispIdDebugFile, m_dir.filePath(u"trace.log"_s)), InvokeStatus::Ok);
    // A token is the host's to keep: never written with the window.
    QCOMPARE(let(control, DispIdAccessToken, u"token"_s), InvokeStatus::Ok);

    MemoryPropertyBag bag;
    control->save(bag);
    const QStringList keys{u"POPHostname"_s, u"POPPort"_s, u"POPUsername"_s, u"POPPassword"_s, u"POPTimeout"_s};
    QCOMPARE(bag.writeLog(), keys);
    QCOMPARE(bag.read(u"POPHostname"_s).metaType().id(), int(QMetaType::QString));
    QCOMPARE(bag.read(u"POPPort"_s).metaType().id(), int(QMetaType::Int));
    QCOMPARE(bag.read(u"POPPassword"_s).metaType().id(), int(QMetaType::QString));
    QCOMPARE(bag.read(u"POPTimeout"_s).metaType().id(), int(QMetaType::Short));

    // Saving again writes all five again, also when nothing changed.
    bag.clearLogs();
    control->save(bag);
    QCOMPARE(bag.writeLog(), keys);

    ControlHost host;
    std::unique_ptr<QObject> secondObject(host.create(libraryPath(), QString::fromLatin1(ClassIdTarnpost)));
    auto *second = qobject_cast<AutomationObject *>(secondObject.get());
    QVERIFY2(second, qPrintable(host.errorString()));
    bag.clearLogs();
    second->load(bag);
    QCOMPARE(bag.readLog(), keys);
    QCOMPARE(get(second, DispIdPOPHostname), QVariant(u"pop.example.test"_s));
    QCOMPARE(get(second, DispIdPOPPort), QVariant::fromValue<qint32>(995));
    QCOMPARE(get(second, DispIdPOPUsername), QVariant(u"joe"_s));
    QCOMPARE(get(second, DispIdPOPPassword), QVariant(u"s3cr\u00e9t pass"_s));
    QCOMPARE(get(second, DispIdPOPTimeout), QVariant::fromValue<qint16>(120));
    QCOMPARE(get(second, DispIdDebugMode), QVariant(false));
    QCOMPARE(get(second, DispIdDebugFile), QVariant(QString()));
}

void tst_TarnpostAutomation::missingKeysGiveEmptyValues()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    // A host's stored design values of its own: only two keys, one as text.
    const MemoryPropertyBag design{{u"POPHostname"_s, u"h"_s}, {u"POPTimeout"_s, u"120"_s}};
    control->load(design);
    QCOMPARE(get(control, DispIdPOPHostname), QVariant(u"h"_s));
    QCOMPARE(get(control, DispIdPOPPort), QVariant::fromValue<qint32>(0));
    QCOMPARE(get(control, DispIdPOPUsername), QVariant(QString()));
    QCOMPARE(get(control, DispIdPOPPassword), QVariant(QString()));
    QCOMPARE(get(control, DispIdPOPTimeout), QVariant::fromValue<qint16>(120));

    const MemoryPropertyBag empty;
    control->load(empty);
    QCOMPARE(get(control, DispIdPOPHostname), QVariant(QString()));
    QCOMPARE(get(control, DispIdPOPTimeout), QVariant::fromValue<qint16>(0));
}

void tst_TarnpostAutomation::staysThirtyTwoPixels_data()
{
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<bool>("shown");
    QTest::newRow("wide, shown") << QSize(100, 50) << true;
    QTest::newRow("tiny, shown") << QSize(1, 1) << true;
    QTest::newRow("large, shown") << QSize(640, 480) << true;
    QTest::newRow("wide, hidden") << QSize(100, 50) << false;
}

void tst_TarnpostAutomation::staysThirtyTwoPixels()
{
    QFETCH(QSize, requested);
    QFETCH(bool, shown);

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    QWidget *face = created.control->widget();
    QVERIFY(face);
    QCOMPARE(face, qobject_cast<QWidget *>(created.object.get()));
    if (shown) {
        face->show();
        QVERIFY(QTest::qWaitForWindowExposed(face));
    }
    face->resize(requested);
    QCoreApplication::processEvents();
    QCOMPARE(face->size(), QSize(32, 32));
    face->resize(requested.height() + 3, requested.width() + 7);
    QCoreApplication::processEvents();
    QCOMPARE(face->size(), QSize(32, 32));
}

// ---- Property page ----

void tst_TarnpostAutomation::propertyPageFillsAndApplies()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    const QString logFile = m_dir.filePath(u"page.log"_s);
    let(control, DispIdPOPHostname, u"h1"_s);
    let(control, DispIdPOPPort, 2110);
    let(control, DispIdPOPUsername, u"u1"_s);
    let(control, DispIdPOPPassword, u"p1"_s);
    let(control, DispIdPOPTimeout, 20);
    let(control, DispIdDebugMode, true);
    let(control, DispIdDebugFile, logFile);

    ControlHost host;
    std::unique_ptr<QObject> pageObject(host.create(libraryPath(), QString::fromLatin1(ClassIdPropertyPage)));
    auto *page = qobject_cast<PropertyPage *>(pageObject.get());
    QVERIFY2(page, qPrintable(host.errorString()));
    QWidget *face = page->widget();
    QCOMPARE(face->windowTitle(), u"Tarnpost_Property_Page"_s);

    const QStringList leftColumn{u"POPHostname"_s, u"POPPort"_s, u"POPUsername"_s, u"POPPassword"_s, u"POPTimeout"_s};
    const QStringList rightColumn{u"DebugMode"_s, u"DebugFile"_s, u"Version"_s};
    face->show();
    QVERIFY(QTest::qWaitForWindowExposed(face));
    QHash<QString, QLineEdit *> boxes;
    const QList<QLabel *> labels = face->findChildren<QLabel *>();
    for (const QString &name : leftColumn + rightColumn) {
        QLineEdit *box = face->findChild<QLineEdit *>(u"txt"_s + name);
        QVERIFY2(box, qPrintable(name));
        boxes.insert(name, box);
        const auto label =
            std::find_if(labels.begin(), labels.end(), [&](QLabel *l) { return l->text() == name + u':'; });
        QVERIFY2(label != labels.end(), qPrintable(name));
        // Each label stands above its box.
        QVERIFY((*label)->geometry().bottom() <= box->geometry().top());
        QCOMPARE((*label)->geometry().left(), box->geometry().left());
    }
    for (const QString &left : leftColumn) {
        for (const QString &right : rightColumn)
            QVERIFY(boxes[left]->geometry().right() < boxes[right]->geometry().left());
    }

    page->setObjects({control});
    QCOMPARE(boxes[u"POPHostname"_s]->text(), u"h1"_s);
    QCOMPARE(boxes[u"POPPort"_s]->text(), u"2110"_s);
    QCOMPARE(boxes[u"POPUsername"_s]->text(), u"u1"_s);
    QCOMPARE(boxes[u"POPPassword"_s]->text(), u"p1"_s);
    QCOMPARE(boxes[u"POPTimeout"_s]->text(), u"20"_s);
    QCOMPARE(boxes[u"DebugMode"_s]->text(), u"True"_s);
    QCOMPARE(boxes[u"DebugFile"_s]->text(), logFile);
    QCOMPARE(boxes[u"Version"_s]->text(), u"4.1.1"_s);
    QVERIFY(!page->isChanged());

    QTest::keyClicks(boxes[u"POPPort"_s], u"0"_s); // 21100
    QVERIFY(page->isChanged());
    boxes[u"POPHostname"_s]->setText(u"h2"_s);
    boxes[u"DebugMode"_s]->setText(u"false"_s);
    boxes[u"POPTimeout"_s]->setText(u"45"_s);
    QVERIFY(g_messages.isEmpty());

    page->apply();
    QCOMPARE(g_messages, QStringList{u"Property is Read-only"_s});
    QVERIFY(!page->isChanged());
    QCOMPARE(get(control, DispIdPOPHostname), QVariant(u"h2"_s));
    QCOMPARE(get(control, DispIdPOPPort), QVariant::fromValue<qint32>(21100));
    QCOMPARE(get(control, DispIdPOPTimeout), QVariant::fromValue<qint16>(45));
    QCOMPARE(get(control, DispIdDebugMode), QVariant(false));
    QCOMPARE(get(control, DispIdPOPUsername), QVariant(u"u1"_s));
    QCOMPARE(get(control, DispIdVersion), QVariant(u"4.1.1"_s));

    // Every apply shows the message once, even without edits.
    page->apply();
    QCOMPARE(g_messages.size(), 2);
}

void tst_TarnpostAutomation::propertyPageRefusedValuesKeepProperties()
{
    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;

    ControlHost host;
    std::unique_ptr<QObject> pageObject(host.create(libraryPath(), QString::fromLatin1(ClassIdPropertyPage)));
    auto *page = qobject_cast<PropertyPage *>(pageObject.get());
    QVERIFY2(page, qPrintable(host.errorString()));
    page->setObjects({control});
    QWidget *face = page->widget();
    face->findChild<QLineEdit *>(u"txtPOPPort"_s)->setText(u"abc"_s);
    face->findChild<QLineEdit *>(u"txtPOPTimeout"_s)->setText(u"40000"_s);
    face->findChild<QLineEdit *>(u"txtDebugMode"_s)->setText(u"maybe"_s);
    face->findChild<QLineEdit *>(u"txtPOPHostname"_s)->setText(u"h3"_s);
    page->apply();

    QCOMPARE(get(control, DispIdPOPPort), QVariant::fromValue<qint32>(110));
    QCOMPARE(get(control, DispIdPOPTimeout), QVariant::fromValue<qint16>(10));
    QCOMPARE(get(control, DispIdDebugMode), QVariant(false));
    QCOMPARE(get(control, DispIdPOPHostname), QVariant(u"h3"_s)); // the others still apply
    QCOMPARE(g_messages.size(), 1);

    // No object selected: nothing to fill or apply, and no crash.
    page->setObjects({});
    page->apply();
    QCOMPARE(g_messages.size(), 1);
}

void tst_TarnpostAutomation::propertyPageOrder()
{
    ControlHost host;
    std::unique_ptr<QObject> pageObject(host.create(libraryPath(), QString::fromLatin1(ClassIdPropertyPage)));
    auto *page = qobject_cast<PropertyPage *>(pageObject.get());
    QVERIFY2(page, qPrintable(host.errorString()));

    RecordingObject first;
    RecordingObject second;
    first.values.insert(DispIdDebugMode, true);
    page->setObjects({&first, &second});
    const QStringList order{u"68030000"_s, u"68030001"_s, u"68030002"_s, u"6803000e"_s,
                            u"68030010"_s, u"68030011"_s, u"68030012"_s, u"68030013"_s};
    QStringList gets;
    for (const QString &id : order)
        gets.append(u"get:"_s + id);
    QCOMPARE(first.calls, gets);
    QVERIFY(second.calls.isEmpty()); // only the first selected object is edited

    first.calls.clear();
    page->apply();
    QStringList lets;
    for (const QString &id : order)
        lets.append(u"let:"_s + id);
    QCOMPARE(first.calls, lets);
    QCOMPARE(first.values.value(DispIdDebugMode).toString(), u"True"_s);
    QVERIFY(second.calls.isEmpty());
}

// ---- Entry points and registration ----

void tst_TarnpostAutomation::entryPoints()
{
    const auto getClassObject = reinterpret_cast<DllGetClassObjectFunction>(m_library.resolve("DllGetClassObject"));
    QVERIFY(getClassObject);
    QVERIFY(m_library.resolve("DllCanUnloadNow"));
    QVERIFY(m_library.resolve("DllRegisterServer"));
    QVERIFY(m_library.resolve("DllUnregisterServer"));
    // Built with hidden visibility: the control's internals are not exported as C symbols.
    QVERIFY(!m_library.resolve("fireMsgReadStatus"));

    ClassFactory *factory = nullptr;
    QCOMPARE(getClassObject(ClassIdTarnpost, &factory), 0);
    QVERIFY(factory);
    QCOMPARE(factory->classId(), QString::fromLatin1(ClassIdTarnpost));
    std::unique_ptr<QObject> control(factory->createInstance(nullptr));
    QVERIFY(qobject_cast<AutomationObject *>(control.get()));
    QVERIFY(!qobject_cast<PropertyPage *>(control.get()));

    factory = nullptr;
    QCOMPARE(getClassObject(ClassIdPropertyPage, &factory), 0);
    QVERIFY(factory);
    QCOMPARE(factory->classId(), QString::fromLatin1(ClassIdPropertyPage));
    QWidget parent;
    QObject *page = factory->createInstance(&parent);
    QVERIFY(qobject_cast<PropertyPage *>(page));
    QCOMPARE(page->parent(), &parent);

    factory = reinterpret_cast<ClassFactory *>(quintptr(1));
    QVERIFY(getClassObject("{00000000-0000-0000-0000-000000000000}", &factory) != 0);
    QVERIFY(!factory);
    QVERIFY(getClassObject(InterfaceIdTarnpost, &factory) != 0);
    QVERIFY(getClassObject(nullptr, &factory) != 0);
    QVERIFY(getClassObject(ClassIdTarnpost, nullptr) != 0);

    ControlHost host;
    QVERIFY(!host.create(libraryPath(), u"{00000000-0000-0000-0000-000000000000}"_s));
    QVERIFY(host.errorString().contains(u"not available"_s));
}

void tst_TarnpostAutomation::canUnloadNowFollowsLiveObjects()
{
    const auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(m_library.resolve("DllCanUnloadNow"));
    QVERIFY(canUnloadNow);
    QCOMPARE(canUnloadNow(), 0);

    ControlHost host;
    auto *window = new QWidget;
    QObject *control = host.create(libraryPath(), QString::fromLatin1(ClassIdTarnpost), window);
    QVERIFY(control);
    QCOMPARE(canUnloadNow(), 1);
    std::unique_ptr<QObject> page(host.create(libraryPath(), QString::fromLatin1(ClassIdPropertyPage)));
    QVERIFY(page);
    QCOMPARE(canUnloadNow(), 1);
    delete window; // takes the control with it
    QCOMPARE(canUnloadNow(), 1);
    page.reset();
    QCOMPARE(canUnloadNow(), 0);
}

void tst_TarnpostAutomation::registerThenCreateByProgId()
{
    const auto registerServer = reinterpret_cast<DllRegisterServerFunction>(m_library.resolve("DllRegisterServer"));
    const auto unregisterServer =
        reinterpret_cast<DllUnregisterServerFunction>(m_library.resolve("DllUnregisterServer"));
    QVERIFY(registerServer && unregisterServer);

    ControlHost host;
    QVERIFY(!host.createByProgId(QString::fromLatin1(ProgId)));

    QCOMPARE(registerServer(), 0);
    // The library wrote the file this test points at: its own copy of the
    // registry code follows the override.
    QVERIFY(QFileInfo::exists(m_dir.filePath(u"registry/classes.ini"_s)));
    const std::optional<ClassRegistration> control = ClassRegistry::lookupClass(QString::fromLatin1(ClassIdTarnpost));
    QVERIFY(control);
    QCOMPARE(QFileInfo(control->libraryPath).canonicalFilePath(), QFileInfo(libraryPath()).canonicalFilePath());
    QCOMPARE(control->className, u"Tarnpost"_s);
    QCOMPARE(control->progId, u"Zoruradorivodad.Tarnpost"_s);
    QCOMPARE(control->typeLibraryName, u"Zoruradorivodad"_s);
    QCOMPARE(control->typeLibraryVersionMajor, 1);
    QCOMPARE(control->typeLibraryVersionMinor, 0);
    QCOMPARE(control->typeLibraryHelp, u"Tarnpost 4.1.1"_s);
    const std::optional<ClassRegistration> page = ClassRegistry::lookupClass(QString::fromLatin1(ClassIdPropertyPage));
    QVERIFY(page);
    QCOMPARE(page->className, u"Tarnpost_Property_Page"_s);
    QCOMPARE(page->libraryPath, control->libraryPath);

    std::unique_ptr<QObject> created(host.createByProgId(u"Zoruradorivodad.Tarnpost"_s));
    auto *object = qobject_cast<AutomationObject *>(created.get());
    QVERIFY2(object, qPrintable(host.errorString()));
    QCOMPARE(object->classId(), QString::fromLatin1(ClassIdTarnpost));
    created.reset();

    QCOMPARE(unregisterServer(), 0);
    QVERIFY(!ClassRegistry::lookupClass(QString::fromLatin1(ClassIdTarnpost)));
    QVERIFY(!ClassRegistry::lookupClass(QString::fromLatin1(ClassIdPropertyPage)));
    QVERIFY(!host.createByProgId(QString::fromLatin1(ProgId)));
    QVERIFY(!host.errorString().isEmpty());
}

// ---- Sessions through the interface ----

void tst_TarnpostAutomation::proxyOverTheRealControl()
{
    ScriptedPop3Server server;
    scriptLogin(server, "+OK 3 900\r\n");
    server.expect("UIDL 2", {"+OK 2 uid-two\r\n"});
    server.expect("UIDL 2", {"+OK 2 uid-two\r\n"});
    QVERIFY(server.start());

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    TarnpostProxy tarnpost(created.object.get());
    QVERIFY(tarnpost.isValid());
    QVERIFY(tarnpost.setPOPHostname(u"127.0.0.1"_s));
    QVERIFY(tarnpost.setPOPPort(server.port()));
    QVERIFY(tarnpost.setPOPUsername(u"joe"_s));
    QVERIFY(tarnpost.setPOPPassword(u"secret"_s));
    tarnpost.Connect();
    QCOMPARE(tarnpost.Error(), qint16(ErrorNone));
    QCOMPARE(tarnpost.Status(), qint16(StatusConnected));
    QCOMPARE(tarnpost.MsgCount(), 3);
    QCOMPARE(tarnpost.ConnectResponse(), u"+OK scripted ready"_s);

    qint16 number = 2;
    tarnpost.SetCurrentMsg(number);
    QCOMPARE(tarnpost.Error(), qint16(ErrorNone));
    QCOMPARE(tarnpost.MsgUniqueID(), u"uid-two"_s);
    // 0 selects the current message again and is written back.
    number = 0;
    tarnpost.SetCurrentMsg(number);
    QCOMPARE(number, qint16(2));
    QCOMPARE(tarnpost.MsgNumber(), qint16(2));

    QVERIFY(!tarnpost.setPOPPort(u"abc"_s));
    QCOMPARE(tarnpost.lastResult().status, InvokeStatus::TypeMismatch);
    QCOMPARE(tarnpost.POPPort(), qint32(server.port()));

    tarnpost.Disconnect();
    QCOMPARE(tarnpost.Status(), qint16(StatusDisconnected));
    QCOMPARE(server.receivedLines().last(), QByteArray("QUIT"));
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));

    created.object.reset();
    QVERIFY(!tarnpost.isValid());
    QCOMPARE(tarnpost.MsgCount(), 0);
    QVERIFY(!tarnpost.lastResult().ok());
}

void tst_TarnpostAutomation::eventSinkAssignsTotal()
{
    // 3000 octets, as LIST says.
    const QByteArray message = "Subject: hi\r\nX-Pad: " + QByteArray(2965, 'p') + "\r\n\r\nbody line\r\n";
    QCOMPARE(message.size(), 3000);
    ScriptedPop3Server server;
    scriptLogin(server, "+OK 1 3000\r\n");
    server.expect("UIDL 1", {"+OK 1 uid-one\r\n"});
    server.expect("LIST 1", {"+OK 1 3000\r\n"});
    server.expect("RETR 1", {"+OK message follows\r\n" + message, ".\r\n"});
    QVERIFY(server.start());

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    AutomationObject *control = created.control;
    RecordingSink sink;
    sink.assignTotal = 77;
    control->advise(&sink);

    connectTo(control, server.port());
    QCOMPARE(get(control, DispIdStatus).toInt(), int(StatusConnected));
    QVariantList number{QVariant::fromValue<qint16>(1)};
    QCOMPARE(call(control, DispIdSetCurrentMsg, number), InvokeStatus::Ok);
    QCOMPARE(get(control, DispIdMsgSizeInK), QVariant::fromValue<qint32>(3));
    QVariantList none;
    QCOMPARE(call(control, DispIdRetrieveCurrentMsg, none), InvokeStatus::Ok);
    QCOMPARE(get(control, DispIdError).toInt(), int(ErrorNone));
    QCOMPARE(get(control, DispIdMsgContents).toString(), u"body line"_s);

    QVERIFY(!sink.events.isEmpty());
    for (qint32 id : std::as_const(sink.ids))
        QCOMPARE(id, qint32(DispIdMsgReadStatus));
    const QVariantList last = sink.events.last();
    QCOMPARE(last.size(), 3);
    QCOMPARE(last.at(0).metaType().id(), int(QMetaType::Int));
    QCOMPARE(last.at(1).metaType().id(), int(QMetaType::Int));
    QCOMPARE(last.at(2).metaType().id(), int(QMetaType::Short));
    QCOMPARE(last.at(2).toInt(), 100);
    // The total is passed by reference to the size member itself.
    QCOMPARE(get(control, DispIdMsgSizeInK), QVariant::fromValue<qint32>(77));

    // Without a sink the size stays as the server gave it.
    control->advise(nullptr);
    const qsizetype seen = sink.events.size();
    QCOMPARE(call(control, DispIdDisconnect, none), InvokeStatus::Ok);
    QCOMPARE(sink.events.size(), seen);
    QVERIFY2(server.mismatches().isEmpty(), qPrintable(server.mismatches().join(u'\n')));
}

void tst_TarnpostAutomation::destroyingConnectedControlSendsQuit()
{
    const auto canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(m_library.resolve("DllCanUnloadNow"));
    ScriptedPop3Server server;
    scriptLogin(server, "+OK 0 0\r\n");
    QVERIFY(server.start());

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    connectTo(created.control, server.port());
    QCOMPARE(get(created.control, DispIdStatus).toInt(), int(StatusConnected));
    QCOMPARE(server.receivedLines().size(), 3);

    created.object.reset(); // the host forgets to disconnect
    QVERIFY(server.waitForLines(4, 10000));
    QCOMPARE(server.receivedLines().last(), QByteArray("QUIT"));
    QCOMPARE(canUnloadNow(), 0);
}

void tst_TarnpostAutomation::destroyingConnectedControlCommitsDeletions()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed; the scripted server covers the QUIT on destruction");
    DovecotServer dovecot;
    dovecot.addUser(u"alice"_s, u"alicepw"_s);
    dovecot.addMessage(u"alice"_s, "Subject: one\n\nfirst\n");
    dovecot.addMessage(u"alice"_s, "Subject: two\n\nsecond\n");
    QVERIFY2(dovecot.start(), qPrintable(dovecot.errorString()));

    Created created = createControl();
    QVERIFY2(created.control, qPrintable(created.error));
    connectTo(created.control, dovecot.port(), dovecot.address(), u"alice"_s, u"alicepw"_s);
    QCOMPARE(get(created.control, DispIdError).toInt(), int(ErrorNone));
    QCOMPARE(get(created.control, DispIdMsgCount).toInt(), 2);
    QVariantList number{QVariant::fromValue<qint16>(1)};
    QCOMPARE(call(created.control, DispIdSetCurrentMsg, number), InvokeStatus::Ok);
    QVariantList none;
    QCOMPARE(call(created.control, DispIdDeleteCurrentMsg, none), InvokeStatus::Ok);
    QCOMPARE(get(created.control, DispIdError).toInt(), int(ErrorNone));
    QCOMPARE(dovecot.messageCount(u"alice"_s), 2); // marked only, until QUIT

    created.object.reset();
    // The deletion became final, so the server saw QUIT before the socket closed.
    QCOMPARE(dovecot.messageCount(u"alice"_s), 1);
    QVERIFY(dovecot.messages(u"alice"_s).first().contains("second"));
}

QTEST_MAIN(tst_TarnpostAutomation)
#include "tst_tarnpostautomation.moc"
