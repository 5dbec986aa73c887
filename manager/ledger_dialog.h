#pragma once
// 날인 대장: every stamping the book recorded, newest last, as the tool's
// `ledger` lists it: when, who, which stamp, which document and where, why.
#include <QDialog>
#include <string>

class QLabel;
class QTableWidget;

class LedgerDialog : public QDialog {
    Q_OBJECT
public:
    explicit LedgerDialog(std::string book, QWidget* parent = nullptr);
    // Reads the ledger off the interface thread and fills the table.
    void Reload();
    QTableWidget* Table() const { return table_; }

private:
    std::string book_;
    QTableWidget* table_;
    QLabel* summary_;
};
