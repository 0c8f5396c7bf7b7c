#include "config/widgets/savereport.h"

#include "platform/messagebox/messagebox.h"

#include <QDir>

using namespace Qt::StringLiterals;

void SaveReport::addFailure(const QString &path, const QString &reason) { m_failures.append(Failure{path, reason}); }

QString SaveReport::text() const
{
    QString text =
        m_failures.size() == 1 ? u"This file could not be saved:\r\n"_s : u"These files could not be saved:\r\n"_s;
    for (const Failure &failure : m_failures)
        text += QDir::toNativeSeparators(failure.path) + u": "_s + failure.reason + u"\r\n"_s;
    text += m_failures.size() == 1 ? u"It keeps its previous content."_s : u"Each keeps its previous content."_s;
    return text;
}

void SaveReport::show(QWidget *parent) const
{
    if (!isEmpty())
        MessageBox::show(parent, text(), title(), MessageBox::OkOnly);
}

QString SaveReport::title() { return u"Save failed."_s; }
