#include "ui/frmsplash.h"

#include "ui_frmsplash.h"

#include <QPixmap>

using namespace Qt::StringLiterals;

frmSplash::frmSplash(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_ui(std::make_unique<Ui::frmSplash>())
{
    m_ui->setupUi(this);
    m_ui->Image1->setPixmap(
        QPixmap(u":/quellmail/logo.png"_s).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

frmSplash::~frmSplash() = default;

QLabel *frmSplash::label() const { return m_ui->label; }

void frmSplash::setMessage(const QString &message) { m_ui->label->setText(message); }

QString frmSplash::message() const { return m_ui->label->text(); }
