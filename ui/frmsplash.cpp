#include "ui/frmsplash.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

using namespace Qt::StringLiterals;

frmSplash::frmSplash(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(u"frmSplash"_s);
    setWindowTitle(u" Now Loading"_s);
    setModal(false);

    auto *picture = new QLabel(this);
    picture->setObjectName(u"Image1"_s);
    picture->setPixmap(QPixmap(u":/quellmail/logo.png"_s)
                           .scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture->setFixedSize(52, 52);
    picture->setAlignment(Qt::AlignCenter);

    m_label = new QLabel(this);
    m_label->setObjectName(u"label"_s);
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(220);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(12);
    layout->addWidget(picture);
    layout->addWidget(m_label, 1);
    setFixedSize(320, 90);
}

void frmSplash::setMessage(const QString &message)
{
    m_label->setText(message);
}

QString frmSplash::message() const
{
    return m_label->text();
}
