#include "ui/trainfolderdialog.h"

#include "mail/mailfolderreader.h"
#include "ui_trainfolderdialog.h"

#include <QFileDialog>
#include <QPushButton>

using namespace Qt::StringLiterals;

TrainFolderDialog::TrainFolderDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TrainFolderDialog>())
{
    m_ui->setupUi(this);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &TrainFolderDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &TrainFolderDialog::reject);
    connect(m_ui->cmdChooseMbox, &QPushButton::clicked, this, &TrainFolderDialog::chooseMbox);
    connect(m_ui->cmdChooseMaildir, &QPushButton::clicked, this, &TrainFolderDialog::chooseMaildir);
}

TrainFolderDialog::~TrainFolderDialog() = default;

QString TrainFolderDialog::path() const { return m_ui->txtTrainPath->text().trimmed(); }

Scan::LearnedFilter::Label TrainFolderDialog::label() const
{
    return m_ui->comboTrainLabel->currentIndex() == 0 ? Scan::LearnedFilter::Label::Spam
                                                      : Scan::LearnedFilter::Label::Ham;
}

void TrainFolderDialog::accept()
{
    // Nothing is learned from a path that is no mail folder.
    if (Scan::MailFolderReader::detect(path()) == Scan::MailFolderReader::Format::Unknown) {
        m_ui->lblTrainProblem->setText(path().isEmpty() ? u"Choose an mbox file or a Maildir folder."_s
                                                        : path() + u" is neither an mbox file nor a Maildir folder."_s);
        return;
    }
    m_ui->lblTrainProblem->clear();
    QDialog::accept();
}

void TrainFolderDialog::chooseMbox()
{
    const QString file = QFileDialog::getOpenFileName(this, u"Mbox file"_s, path());
    if (!file.isEmpty())
        m_ui->txtTrainPath->setText(file);
}

void TrainFolderDialog::chooseMaildir()
{
    const QString folder = QFileDialog::getExistingDirectory(this, u"Maildir folder"_s, path());
    if (!folder.isEmpty())
        m_ui->txtTrainPath->setText(folder);
}
