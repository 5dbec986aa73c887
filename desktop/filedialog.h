#pragma once
// The open-file dialog, behind an interface so that tests can script it.
#include <string>

class QWidget;

// A modal open-file dialog. The filter is "description|pattern"; the chosen
// path is kept from one use to the next, and a cancel leaves it unchanged.
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual void SetFilter(const std::string& filter) = 0;
    // True when the user chose a file, false on cancel.
    virtual bool ShowOpen() = 0;
    virtual std::string FileName() const = 0;
};

class QtFileDialog : public FileDialog {
public:
    explicit QtFileDialog(QWidget* parent = nullptr) : parent_(parent) {}
    void SetFilter(const std::string& filter) override;
    bool ShowOpen() override;
    std::string FileName() const override { return fileName_; }

private:
    QWidget* parent_;
    std::string filter_;
    std::string fileName_;
};
