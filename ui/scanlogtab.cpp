#include "ui/scanlogtab.h"

#include "state/scanlog.h"
#include "state/statedatabase.h"

#include <QBrush>
#include <QColor>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QLocale>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

ScanLogTab::ScanLogTab(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_folder(programFolder)
    , m_model(new QStandardItemModel(0, ColumnCount, this))
    , m_view(new QTableView(this))
{
    setObjectName(u"tabLog"_s);
    m_model->setHorizontalHeaderLabels(
        {u"Time"_s, u"Account"_s, u"Scanned"_s, u"Condemned"_s, u"Deleted"_s, u"Outcome"_s});
    m_view->setObjectName(u"gridLog"_s);
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
}

QColor ScanLogTab::failureColor(const QPalette &palette)
{
    // Red as light as the text: dark on a light theme, light on a dark one.
    const int lightness = qBound(70, palette.color(QPalette::Text).lightness(), 180);
    return QColor::fromHsl(0, 200, lightness);
}

// The tab hears of a new palette before its view does, so the colour comes from the tab's.
void ScanLogTab::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_model->rowCount() > 0)
        refresh();
}

void ScanLogTab::refresh()
{
    m_model->removeRows(0, m_model->rowCount());
    StateDatabase db(m_folder);
    if (!db.open()) {
        m_model->appendRow(new QStandardItem(db.errorText()));
        return;
    }
    const QLocale locale;
    for (const ScanLog::Record &r : ScanLog(db).latest(Shown)) {
        const QString outcome = r.interrupted() ? u"interrupted"_s : r.outcome;
        QList<QStandardItem *> cells;
        for (const QString &text :
             QStringList{locale.toString(r.started.toLocalTime(), QLocale::ShortFormat), r.login + u'@' + r.server,
                         QString::number(r.scanned), QString::number(r.condemned), QString::number(r.deleted), outcome})
            cells.append(new QStandardItem(text));
        if (r.failed() || r.interrupted()) {
            QFont bold = m_view->font();
            bold.setBold(true);
            for (QStandardItem *cell : cells) {
                cell->setForeground(QBrush(failureColor(palette())));
                cell->setFont(bold);
            }
        }
        m_model->appendRow(cells);
    }
}
