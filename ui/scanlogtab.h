#pragma once
// The "Log" tab: the latest scans, one row per account, newest first; a
// failed account stands out.

#include <QWidget>

class QColor;
class QPalette;
class QStandardItemModel;
class QTableView;

class ScanLogTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScanLogTab)

public:
    enum Column { Time, Account, Scanned, Condemned, Deleted, Outcome, ColumnCount };
    static constexpr int Shown = 500;

    explicit ScanLogTab(const QString &programFolder, QWidget *parent = nullptr);

    void refresh();
    QTableView *view() const { return m_view; }
    // A red that reads on `palette`'s background, light or dark.
    static QColor failureColor(const QPalette &palette);

protected:
    void changeEvent(QEvent *event) override;

private:
    QString m_folder;
    QStandardItemModel *m_model;
    QTableView *m_view;
};
