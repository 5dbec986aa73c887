#pragma once
// Desktop services: message boxes, bitmap pictures, the open-file dialog and
// the application folder, each behind a small interface so that tests can
// put a fake in its place. The Qt implementations follow each interface.
#include <QImage>
#include <QString>
#include <string>

class QWidget;
class QFileDialog;

constexpr int vbOKOnly = 0;
constexpr int vbCritical = 16;

// Modal message with an OK button only, titled "Kaldoria"; style 0 shows no
// icon, style 16 the stop icon.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void MsgBox(const std::string& prompt, int style) = 0;
};

// Bitmap pictures. An empty path loads the empty picture; a file that is
// missing or not a readable picture raises err::InvalidPicture or
// err::FileNotFound naming the file.
class PictureService {
public:
    virtual ~PictureService() = default;
    virtual QImage LoadPicture(const std::string& path) = 0;
    // Writes `picture` as a bitmap file.
    virtual void SavePicture(const QImage& picture, const std::string& path) = 0;
};

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

class QtMessageBox : public MessageBox {
public:
    explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
    void MsgBox(const std::string& prompt, int style) override;

private:
    QWidget* parent_;
};

class QtPictureService : public PictureService {
public:
    QImage LoadPicture(const std::string& path) override;
    void SavePicture(const QImage& picture, const std::string& path) override;
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

// The folder of the running executable, without a trailing separator.
std::string ApplicationFolder();

inline const char* const kAppTitle = "Kaldoria";
