#include "ui/firstrundialog.h"

#include "ui/folderdiscovery.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

FirstRunDialog::FirstRunDialog(const QString &home, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"FirstRunDialog"_s);
    setWindowTitle(u"How should Quellmail handle spam?"_s);
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(u"Quellmail is ready to check your account. Choose how it treats what it finds; the "
                             u"recommended choices are ticked, and every one can be changed later on the Settings "
                             u"tab."_s,
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_choices = new QVBoxLayout;
    layout->addLayout(m_choices);

    m_hold = addChoice(u"Hold spam for review instead of deleting it"_s,
                       u"Spam stays on the server until you delete it from the Spam tab, so a mistake costs nothing."_s,
                       true);
    m_summary = addChoice(u"Announce spam with one summary after each scan"_s,
                          u"Instead of a \"Spam from\" box for every message."_s, true);
    m_judgeOnce = addChoice(u"Check each message only once"_s,
                            u"A message left on the server is not downloaded again, until you change a rule."_s, true);
    m_whitelist = addChoice(u"Whitelist"_s,
                            u"Mail from senders on your whitelist is never spam. Add your contacts to it."_s, true);
    m_blacklist = addChoice(u"Blacklist"_s, u"Mail from senders or domains on your blacklist is spam."_s, true);
    m_keywords = addChoice(u"Keywords"_s, u"Mail whose subject or text contains one of your keywords is spam."_s, true);
    m_senderIp = addChoice(u"Sender IP display"_s,
                           u"Shows the sending computer's address in the status line; it condemns nothing."_s, false);

    m_learned = addChoice(u"Learned filter"_s,
                          u"Learns from your own mail what spam looks like; what it alone condemns is held for "
                          u"review."_s,
                          false);
    // Recommended once folders to train it from are found, unless the
    // user has decided already.
    connect(m_learned, &QCheckBox::clicked, this, [this] { m_learnedDecided = true; });
    m_train = addChoice(u"Train the learned filter from your mail program's folders"_s,
                        u"Looking for your mail program's folders\u2026"_s, false, &m_trainLine);
    m_train->setVisible(false);
    // Training without the filter switched on would learn for nothing.
    connect(m_train, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_learned->setChecked(true);
    });
    connect(m_learned, &QCheckBox::toggled, this, [this](bool on) {
        if (!on)
            m_train->setChecked(false);
    });

    auto *buttons = new QDialogButtonBox(this);
    m_apply = buttons->addButton(u"&Use these choices"_s, QDialogButtonBox::AcceptRole);
    m_apply->setObjectName(u"cmdFirstRunApply"_s);
    m_skip = buttons->addButton(u"&Skip"_s, QDialogButtonBox::RejectRole);
    m_skip->setObjectName(u"cmdFirstRunSkip"_s);
    m_skip->setToolTip(u"Keeps the settings as they are: only the blacklist rule, spam deleted and announced one "
                       u"box at a time."_s);
    m_apply->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // Counting a large mbox takes a while: the dialog is usable meanwhile.
    auto *discovery = new FolderDiscovery(this);
    m_discovery = discovery;
    connect(discovery, &FolderDiscovery::found, this, &FirstRunDialog::offerTraining);
    discovery->start(home);
}

bool FirstRunDialog::lookingForFolders() const { return m_discovery->searching(); }

void FirstRunDialog::offerTraining(const QList<Scan::MailClientFolders::Folder> &found)
{
    for (const Scan::MailClientFolders::Folder &folder : found) {
        if (folder.kind != Scan::MailClientFolders::Kind::Other)
            m_folders.append(folder);
    }
    int spam = 0;
    int legitimate = 0;
    for (const Scan::MailClientFolders::Folder &folder : std::as_const(m_folders))
        ++(folder.kind == Scan::MailClientFolders::Kind::Spam ? spam : legitimate);
    const bool any = !m_folders.isEmpty();
    m_trainLine->setText(
        u"%1 junk folder(s) as spam and %2 inbox, sent or archive folder(s) as legitimate mail."_s.arg(spam).arg(
            legitimate));
    m_trainLine->setVisible(any);
    m_train->setVisible(any);
    if (!m_learnedDecided)
        m_learned->setChecked(any);
    m_train->setChecked(any && m_learned->isChecked());
}

QCheckBox *FirstRunDialog::addChoice(const QString &caption, const QString &explanation, bool on, QLabel **line)
{
    auto *box = new QCheckBox(caption, this);
    box->setChecked(on);
    auto *explained = new QLabel(explanation, this);
    explained->setWordWrap(true);
    explained->setIndent(24);
    // A muted colour of the palette stays readable on a dark theme.
    QPalette muted = explained->palette();
    muted.setColor(QPalette::WindowText, muted.color(QPalette::PlaceholderText));
    explained->setPalette(muted);
    m_choices->addWidget(box);
    m_choices->addWidget(explained);
    if (line)
        *line = explained;
    return box;
}

FirstRunDialog::Choices FirstRunDialog::choices() const
{
    Choices c;
    c.holdForReview = m_hold->isChecked();
    c.summary = m_summary->isChecked();
    c.judgeOnce = m_judgeOnce->isChecked();
    c.whitelist = m_whitelist->isChecked();
    c.blacklist = m_blacklist->isChecked();
    c.senderIp = m_senderIp->isChecked();
    c.keywords = m_keywords->isChecked();
    c.learnedFilter = m_learned->isChecked();
    if (m_train->isChecked())
        c.training = m_folders;
    return c;
}
