#pragma once
// The names of cboName's list, kept as one UTF-8 buffer and turned into text
// only when the list shows them: a table of many rows then costs a few bytes
// per name at start instead of a text object each.
#include <QAbstractListModel>
#include <string>
#include <vector>

class NameList : public QAbstractListModel {
public:
    explicit NameList(QObject* parent = nullptr) : QAbstractListModel(parent) {}
    void Reserve(std::size_t names) { ends_.reserve(names); }
    // Appends a name; call before the model is given to a view.
    void Append(const std::string& name) {
        text_ += name;
        ends_.push_back(text_.size());
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(ends_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        const std::size_t row = static_cast<std::size_t>(index.row());
        const std::size_t begin = row == 0 ? 0 : ends_[row - 1];
        return QString::fromUtf8(text_.data() + begin, static_cast<qsizetype>(ends_[row] - begin));
    }

private:
    std::string text_;
    std::vector<std::size_t> ends_;
};
