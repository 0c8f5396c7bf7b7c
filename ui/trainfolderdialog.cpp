#include "ui/trainfolderdialog.h"

#include "mail/mailclientfolders.h"
#include "mail/mailfolderreader.h"
#include "ui/folderdiscovery.h"
#include "ui_trainfolderdialog.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {

enum Column { FolderColumn, MessagesColumn, LabelColumn };
constexpr int PathRole = Qt::UserRole;
constexpr int SpamRole = Qt::UserRole + 1;

} // namespace

TrainFolderDialog::TrainFolderDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::TrainFolderDialog>())
    , m_discovery(new FolderDiscovery(this))
{
    m_ui->setupUi(this);
    m_foldersCaption = m_ui->lblClientFolders->text();
    connect(m_discovery, &FolderDiscovery::found, this, &TrainFolderDialog::showClientFolders);
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &TrainFolderDialog::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &TrainFolderDialog::reject);
    connect(m_ui->cmdChooseMbox, &QPushButton::clicked, this, &TrainFolderDialog::chooseMbox);
    connect(m_ui->cmdChooseMaildir, &QPushButton::clicked, this, &TrainFolderDialog::chooseMaildir);
    m_ui->treeClientFolders->header()->setSectionResizeMode(FolderColumn, QHeaderView::Stretch);
    findClientFolders(QString());
}

TrainFolderDialog::~TrainFolderDialog() = default;

void TrainFolderDialog::findClientFolders(const QString &home)
{
    m_ui->treeClientFolders->clear();
    m_ui->lblTrainProblem->clear();
    m_ui->treeClientFolders->setVisible(false);
    if (home.isEmpty()) {
        m_discovery->cancel();
        m_ui->lblClientFolders->setVisible(false);
        return;
    }
    // Counting reads each folder whole: the dialog stays usable meanwhile.
    m_ui->lblClientFolders->setText(u"Looking for the folders of your mail programs\u2026"_s);
    m_ui->lblClientFolders->setVisible(true);
    m_discovery->start(home);
}

bool TrainFolderDialog::lookingForFolders() const { return m_discovery->searching(); }

void TrainFolderDialog::showClientFolders(const QList<Scan::MailClientFolders::Folder> &discovered)
{
    m_ui->treeClientFolders->clear();
    m_ui->lblClientFolders->setText(m_foldersCaption);
    // Only folders whose kind the name tells; nothing is ticked for the
    // user, who knows what each holds.
    using Scan::MailClientFolders;
    for (const MailClientFolders::Folder &found : discovered) {
        if (found.kind == MailClientFolders::Kind::Other)
            continue;
        const bool spam = found.kind == MailClientFolders::Kind::Spam;
        auto *item = new QTreeWidgetItem(m_ui->treeClientFolders);
        item->setText(FolderColumn, found.client + u": "_s + found.name);
        item->setToolTip(FolderColumn, found.path);
        item->setText(MessagesColumn, QString::number(found.messages));
        item->setTextAlignment(MessagesColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(LabelColumn, spam ? u"Spam"_s : u"Not spam"_s);
        item->setCheckState(FolderColumn, Qt::Unchecked);
        item->setData(FolderColumn, PathRole, found.path);
        item->setData(FolderColumn, SpamRole, spam);
    }
    const bool any = m_ui->treeClientFolders->topLevelItemCount() > 0;
    m_ui->lblClientFolders->setVisible(any);
    m_ui->treeClientFolders->setVisible(any);
}

QString TrainFolderDialog::path() const { return m_ui->txtTrainPath->text().trimmed(); }

Scan::LearnedFilter::Label TrainFolderDialog::label() const
{
    return m_ui->comboTrainLabel->currentIndex() == 0 ? Scan::LearnedFilter::Label::Spam
                                                      : Scan::LearnedFilter::Label::Ham;
}

QList<TrainFolderDialog::Folder> TrainFolderDialog::folders() const
{
    QList<Folder> chosen;
    for (int i = 0; i < m_ui->treeClientFolders->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *item = m_ui->treeClientFolders->topLevelItem(i);
        if (item->checkState(FolderColumn) != Qt::Checked)
            continue;
        chosen.append({item->data(FolderColumn, PathRole).toString(), item->text(FolderColumn),
                       item->data(FolderColumn, SpamRole).toBool() ? Scan::LearnedFilter::Label::Spam
                                                                   : Scan::LearnedFilter::Label::Ham});
    }
    if (!path().isEmpty())
        chosen.append({path(), path(), label()});
    return chosen;
}

void TrainFolderDialog::accept()
{
    // Nothing is learned from a path that is no mail folder.
    if (!path().isEmpty() && Scan::MailFolderReader::detect(path()) == Scan::MailFolderReader::Format::Unknown) {
        m_ui->lblTrainProblem->setText(path() + u" is neither an mbox file nor a Maildir folder."_s);
        return;
    }
    if (folders().isEmpty()) {
        m_ui->lblTrainProblem->setText(m_ui->treeClientFolders->topLevelItemCount() > 0
                                           ? u"Tick a folder, or choose an mbox file or a Maildir folder."_s
                                           : u"Choose an mbox file or a Maildir folder."_s);
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
