// The control's automation surface: dispatch by member id, the persisted
// properties and the lifecycle hooks a host calls, all walking the member
// table (tarnpostmembers.cpp).
#include "pop3/tarnpost.h"

#include "pop3/include/tarnpostctl.h"
#include "pop3/replyparsing.h"
#include "pop3/tarnpostmembers.h"

#include <QMessageBox>
#include <QResizeEvent>

#include <atomic>

using namespace Qt::StringLiterals;
using Automation::InvokeKind;
using Automation::InvokeResult;
using Automation::InvokeStatus;
using Automation::MemberInfo;
using Automation::MemberKind;

namespace Tarnpostctl {

namespace {

// The library's version information; Version reads major.minor.revision.
constexpr int VersionMajor = 4;
constexpr int VersionMinor = 1;
constexpr int VersionRevision = 1;

constexpr QSize FaceSize(32, 32);

std::atomic<int> g_liveObjects{0};

std::function<void(const QString &)> &messageBoxHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

} // namespace

// ---- Live objects ----

Tarnpost::LiveObject::LiveObject() { ++g_liveObjects; }

Tarnpost::LiveObject::~LiveObject() { --g_liveObjects; }

int Tarnpost::liveObjects() { return g_liveObjects.load(); }

// ---- Dispatch ----

QString Tarnpost::classId() const { return QString::fromLatin1(ClassIdTarnpost); }

QList<MemberInfo> Tarnpost::typeInfo() const { return tarnpostTypeInfo(); }

InvokeResult Tarnpost::invoke(qint32 memberId, InvokeKind kind, QVariantList &args, QVariant *result)
{
    if (result)
        *result = QVariant();
    const TarnpostMember *member = findTarnpostMember(memberId);
    if (!member)
        return {InvokeStatus::UnknownMember, u"Unknown member id %1"_s.arg(memberId)};
    const bool method = member->kind == MemberKind::Method;
    const bool callable = kind == InvokeKind::Method        ? method
                          : kind == InvokeKind::PropertyGet ? !method
                                                            : member->kind == MemberKind::PropertyGetLet;
    if (!callable) {
        if (kind == InvokeKind::PropertyPut && !method)
            return {InvokeStatus::NotSupported, u"Property is read-only"_s};
        return {InvokeStatus::NotSupported, u"Member %1 cannot be called that way"_s.arg(memberId)};
    }
    const qsizetype expected = kind == InvokeKind::Method        ? member->params.size()
                               : kind == InvokeKind::PropertyPut ? 1
                                                                 : 0;
    if (args.size() != expected)
        return {InvokeStatus::BadArgumentCount,
                u"%1 takes %2 argument(s), got %3"_s.arg(member->name).arg(expected).arg(args.size())};
    switch (kind) {
    case InvokeKind::Method: return member->caller(*this, args, result);
    case InvokeKind::PropertyPut: return member->setter(*this, args.constFirst());
    case InvokeKind::PropertyGet: break;
    }
    const QVariant value = member->getter(*this);
    if (result)
        *result = value;
    return {};
}

void Tarnpost::advise(Automation::EventSink *sink) { m_eventSink = sink; }

// ---- Lifecycle ----

void Tarnpost::initNew()
{
    setFixedSize(FaceSize);
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.persisted.isValid())
            member.setter(*this, member.persisted);
    }
}

void Tarnpost::load(const Automation::PropertyBag &bag)
{
    setFixedSize(FaceSize);
    // No defaults: a missing (or unusable) value gives the store's empty value.
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.persisted.isValid() && !member.setter(*this, bag.read(member.name)).ok())
            member.setter(*this, QVariant());
    }
}

void Tarnpost::save(Automation::PropertyBag &bag) const
{
    // Persisted properties are plain values: reading them changes nothing.
    auto &control = const_cast<Tarnpost &>(*this);
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.persisted.isValid())
            bag.write(member.name, member.getter(control));
    }
}

void Tarnpost::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The face is always 32 by 32 pixels, whatever the host asks for.
    if (size() != FaceSize || minimumSize() != FaceSize || maximumSize() != FaceSize)
        setFixedSize(FaceSize);
}

// ---- Version ----

QString Tarnpost::Version() const { return u"%1.%2.%3"_s.arg(VersionMajor).arg(VersionMinor).arg(VersionRevision); }

void Tarnpost::setVersion(const QVariant &) { showReadOnlyMessage(); }

void Tarnpost::setMessageBoxHookForTesting(std::function<void(const QString &text)> hook)
{
    messageBoxHook() = std::move(hook);
}

void Tarnpost::showReadOnlyMessage()
{
    const QString text = u"Property is Read-only"_s;
    if (messageBoxHook()) {
        messageBoxHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(LibraryName), text, QMessageBox::Ok, this);
    box.exec();
}

// ---- By-name property reader ----

QString Tarnpost::GetStringValueOfProperty(QString &strPropertyToReturn)
{
    const QString key = ReplyParsing::trimBlanks(strPropertyToReturn).toUpper();
    QString value;
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (!member.getter || !member.byName || member.name.toUpper() != key)
            continue;
        const QVariant raw = member.getter(*this);
        if (raw.metaType().id() == QMetaType::Bool)
            value = raw.toBool() ? u"True"_s : u"False"_s;
        else if (raw.metaType().id() == QMetaType::QString)
            value = raw.toString();
        else
            value = QString::number(raw.toLongLong());
        break;
    }

    // Cleared after the read: asking for "Error" returns the code that was current.
    const DebugTrace trace(*this, "GetStringValueOfProperty"_L1);
    intpropertyerror = ErrorNone;
    return value;
}

} // namespace Tarnpostctl
