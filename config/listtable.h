#pragma once
// The in-memory table behind one list grid: text rows numbered from 1 in its
// own API, plus a caption line (not a row) that the view shows as its header.

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

class ListTable final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListTable)

public:
    explicit ListTable(QObject *parent = nullptr);

    // Rows and columns of the list, 1-based.
    int rowCountValue() const { return int(m_rows.size()); }
    int rows() const { return rowCountValue(); }
    int columns() const { return m_columnCount; }
    QString cell(int row, int column) const;                // "" outside the table
    void setCell(int row, int column, const QString &text); // ignored outside the table
    QStringList rowCells(int row) const;

    void appendRow(); // a new empty last row
    void appendRow(const QStringList &cells);
    // Removes row `row` (1-based); out of range removes nothing. Returns whether
    // a row went. Hides QAbstractItemModel::removeRow on purpose: views never call it.
    bool removeRow(int row);
    void removeAll();

    // The caption line, split at each "|" into the column captions.
    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }
    void setColumnCount(int columns);
    // Relative widths of the columns, in one unit shared by all grids: a
    // list of one column is WidthUnits wide.
    static constexpr int WidthUnits = 460;
    void setColumnWidths(const QList<int> &widths);
    QList<int> columnWidths() const { return m_widths; }
    // Column `column` (1-based; 0 for none) is drawn masked: the grid never
    // shows its text, cell() still gives it.
    void setMaskedColumn(int column) { m_maskedColumn = column; }
    static QString maskedText();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<QStringList> m_rows;
    QString m_caption;
    QStringList m_captions;
    QList<int> m_widths;
    int m_columnCount = 1;
    int m_maskedColumn = 0;
};
