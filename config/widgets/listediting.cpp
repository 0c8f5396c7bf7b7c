#include "config/widgets/listediting.h"

#include "config/listtable.h"
#include "config/widgets/configwindow.h"
#include "config/widgets/listgridview.h"
#include "config/widgets/savereminder.h"
#include "platform/messagebox/messagebox.h"

#include <QCoreApplication>

using namespace Qt::StringLiterals;

namespace {

struct DeleteTexts
{
    QString question;
    QString questionTitle;
    QString notice;
    QString noticeTitle;
};

DeleteTexts deleteTexts(ListKind kind)
{
    switch (kind) {
    case ListKind::Accounts:
        return {u"Are you sure you want to delete the selected account?"_s, u"Delete account."_s,
                u"The selected account has been deleted."_s, u"Account deleted."_s};
    case ListKind::Whitelist:
    case ListKind::Blacklist:
        return {u"Are you sure you want to delete the selected email address?"_s, u"Delete email address."_s,
                u"The selected email address has been deleted."_s, u"Email address deleted."_s};
    case ListKind::Keywords:
        return {u"Are you sure you want to delete the selected keyword?"_s, u"Delete keyword."_s,
                u"The selected keyword has been deleted."_s, u"Keyword deleted."_s};
    }
    return {};
}

} // namespace

bool deleteSelectedRow(ConfigWindow &form, ListKind kind)
{
    ListGridView *view = form.gridView(kind);
    if (!view || view->selectedRow() == 0)
        return false;
    const DeleteTexts texts = deleteTexts(kind);
    if (MessageBox::show(form.formWidget(), texts.question, texts.questionTitle, MessageBox::YesNo) != MessageBox::Yes)
        return false;
    QCoreApplication::processEvents();
    // The selection may have changed while the question was open.
    const int row = view->selectedRow();
    ListTable *table = Lists::table(form, kind);
    if (!table->removeRow(row))
        return false;
    form.setBoxText(Lists::countBox(kind), QString::number(table->rowCountValue()));
    QCoreApplication::processEvents();
    SaveReminder::tell(form, form.formWidget(), texts.notice, texts.noticeTitle);
    form.showGrids();
    return true;
}
