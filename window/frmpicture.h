#pragma once
// The program's only window: a name box, the picture box and three commands.
// Constructing it runs the load handling (connect, fill the name list, show
// the picture stored as "도장"); every handler runs inside one error boundary
// that reports an Error in a stop-icon message box, so no exception ever
// leaves a Qt slot.
#include <QWidget>
#include <string>

#include "desktop/filedialog.h"
#include "desktop/messagebox.h"
#include "pictures/pictures.h"
#include "engine/workspace/workspace.h"
#include "os/files.h"

class QComboBox;
class QPushButton;
class PictureBox;

// What the window reaches the desktop through; tests pass fakes.
struct DesktopServices {
    MessageBox& messages;
    FileSystem& files;
    PictureService& pictures;
    FileDialog& dialog;     // the window's cdPic
    std::string appFolder;  // ApplicationFolder() in the real program
};

class frmPicture : public QWidget {
    Q_OBJECT
public:
    // Runs the load handling before returning; a failure has been reported
    // when it returns and Loaded() is then false.
    explicit frmPicture(DesktopServices services, QWidget* parent = nullptr);
    ~frmPicture() override;

    // False when start-up failed; the program then ends without showing the window.
    bool Loaded() const { return loaded_; }

    void OpenPICDB();
    void ClosePICDB();

    // Sizes the client area and places the controls from their twips for a
    // screen of the given logical resolution; the constructor uses the screen's.
    void PlaceControls(int dpiX, int dpiY);

    // The work of cmdPicture after the dialog: shows the file in picName.
    // Raises the picture service's Error (naming the file) and then leaves
    // picName as it was.
    void LoadPictureFile(const std::string& path);

private slots:
    void cmdPicture_Click();
    void cmdSave_Click();
    void cmdClose_Click();

private:
    void Form_Load();
    void ShowDefaultPIC();
    void SavePicture();
    void OpenPicture();
    void CloseWindow();
    // The error boundary: runs `work`, reports any Error (or other exception)
    // through the message box and returns false when one was raised.
    bool Guarded(void (frmPicture::*work)());
    void BuildControls();
    std::string TransferFile() const;

    DesktopServices services_;
    Workspace wrkPIC;
    Database dbsPIC;
    bool loaded_ = false;

    QComboBox* cboName = nullptr;
    PictureBox* picName = nullptr;
    QPushButton* cmdClose = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdPicture = nullptr;
};
