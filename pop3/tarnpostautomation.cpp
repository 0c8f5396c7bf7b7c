// Placeholder: the automation surface replaces this file.
#include "tarnpost.h"

namespace Tarnpostctl {

QString Tarnpost::classId() const { return {}; }
QList<Automation::MemberInfo> Tarnpost::typeInfo() const { return {}; }
Automation::InvokeResult Tarnpost::invoke(qint32, Automation::InvokeKind, QVariantList &, QVariant *)
{
    return {Automation::InvokeStatus::UnknownMember, {}};
}
void Tarnpost::advise(Automation::EventSink *sink) { m_eventSink = sink; }
void Tarnpost::initNew() {}
void Tarnpost::load(const Automation::PropertyBag &) {}
void Tarnpost::save(Automation::PropertyBag &) const {}
void Tarnpost::resizeEvent(QResizeEvent *) {}
QString Tarnpost::Version() const { return QStringLiteral("4.1.1"); }
void Tarnpost::setVersion(const QVariant &) {}
QString Tarnpost::GetStringValueOfProperty(QString &) { return {}; }
int Tarnpost::liveObjects() { return 0; }

} // namespace Tarnpostctl
