#pragma once
// The message-box seam: every message the system shows goes through one
// MessageBox, so tests can record what was shown. QtMessageBox is the real one.
#include <string>

class QWidget;

constexpr int vbOKOnly = 0;
constexpr int vbCritical = 16;

inline const char* const kAppTitle = "Kaldoria";

// Modal message with an OK button only, titled "Kaldoria"; style 0 shows no
// icon, style 16 the stop icon.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void MsgBox(const std::string& prompt, int style) = 0;
};

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void MsgBox(const std::string& prompt, int style) override;

private:
    QWidget* parent_;
};
