#include "pop3/host/tarnpostsite.h"

#include "platform/automation/controlhost.h"
#include "platform/automation/memorypropertybag.h"
#include "pop3/include/tarnpostctl.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace Automation {

TarnpostSite::TarnpostSite() = default;

TarnpostSite::~TarnpostSite() { delete m_created.data(); }

bool TarnpostSite::create(const QString &programFolder, QWidget *parent)
{
    const QString library = programFolder + u'/' + QString::fromLatin1(Tarnpostctl::LibraryFileName);
    m_host = std::make_unique<ControlHost>();
    QObject *object = m_host->create(library, QString::fromLatin1(Tarnpostctl::ClassIdTarnpost), parent);
    if (!object) {
        m_error = m_host->errorString();
        return false;
    }
    auto *control = qobject_cast<AutomationObject *>(object);
    if (!control) {
        m_error = u"The control library created an object of an unknown kind."_s;
        delete object;
        return false;
    }
    // The control's properties as saved with the main window.
    MemoryPropertyBag bag;
    QFile design(u":/quellmail/tarnpost1.json"_s);
    if (design.open(QIODevice::ReadOnly)) {
        const QJsonArray values = QJsonDocument::fromJson(design.readAll()).array();
        for (const QJsonValue &entry : values) {
            const QJsonArray pair = entry.toArray();
            const QJsonValue value = pair.at(1);
            bag.write(pair.at(0).toString(), value.isDouble() ? QVariant(value.toInt()) : QVariant(value.toString()));
        }
    }
    control->load(bag);
    if (QWidget *face = control->widget()) {
        face->setObjectName(u"Tarnpost1"_s);
        face->hide();
    }
    m_created = object;
    m_proxy.reset(object);
    m_error.clear();
    return true;
}

} // namespace Automation
