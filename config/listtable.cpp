#include "config/listtable.h"

using namespace Qt::StringLiterals;

ListTable::ListTable(QObject *parent)
    : QAbstractTableModel(parent)
{}

QString ListTable::maskedText() { return u"\u2022\u2022\u2022\u2022\u2022\u2022\u2022\u2022"_s; }

QString ListTable::cell(int row, int column) const
{
    if (row < 1 || row > m_rows.size() || column < 1 || column > m_columnCount)
        return QString();
    const QStringList &cells = m_rows.at(row - 1);
    return column <= cells.size() ? cells.at(column - 1) : QString();
}

void ListTable::setCell(int row, int column, const QString &text)
{
    if (row < 1 || row > m_rows.size() || column < 1 || column > m_columnCount)
        return;
    QStringList &cells = m_rows[row - 1];
    while (cells.size() < column)
        cells.append(QString());
    cells[column - 1] = text;
    const QModelIndex changed = index(row - 1, column - 1);
    Q_EMIT dataChanged(changed, changed);
}

QStringList ListTable::rowCells(int row) const
{
    QStringList cells;
    for (int column = 1; column <= m_columnCount; ++column)
        cells.append(cell(row, column));
    return cells;
}

void ListTable::appendRow() { appendRow(QStringList()); }

void ListTable::appendRow(const QStringList &cells)
{
    QStringList row = cells.mid(0, m_columnCount);
    while (row.size() < m_columnCount)
        row.append(QString());
    const int at = int(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.append(row);
    endInsertRows();
}

bool ListTable::removeRow(int row)
{
    if (row < 1 || row > m_rows.size())
        return false;
    beginRemoveRows(QModelIndex(), row - 1, row - 1);
    m_rows.removeAt(row - 1);
    endRemoveRows();
    return true;
}

void ListTable::removeAll()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void ListTable::setCaption(const QString &caption)
{
    m_caption = caption;
    m_captions = caption.split(QLatin1Char('|'));
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, qMax(0, m_columnCount - 1));
}

void ListTable::setColumnCount(int columns)
{
    columns = qMax(1, columns);
    if (columns == m_columnCount)
        return;
    beginResetModel();
    m_columnCount = columns;
    for (QStringList &cells : m_rows) {
        while (cells.size() < columns)
            cells.append(QString());
        while (cells.size() > columns)
            cells.removeLast();
    }
    endResetModel();
}

void ListTable::setColumnWidths(const QList<int> &widths)
{
    m_widths = widths;
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, qMax(0, m_columnCount - 1));
}

int ListTable::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int ListTable::columnCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : m_columnCount; }

QVariant ListTable::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    const QString text = cell(index.row() + 1, index.column() + 1);
    // The same mask whatever the length: the grid does not tell it either.
    if (index.column() + 1 == m_maskedColumn && !text.isEmpty())
        return maskedText();
    return text;
}

QVariant ListTable::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole)
            return section + 1;
        return QVariant();
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        if (section >= 0 && section < m_captions.size())
            return m_captions.at(section);
        return QVariant();
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return QVariant();
}
