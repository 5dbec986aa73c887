#include "window/frmpicture.h"

#include <QComboBox>
#include <cassert>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <exception>
#include <limits>
#include <utility>

#include "os/error.h"
#include "store/connection.h"
#include "store/names.h"
#include "store/save.h"
#include "store/transfer.h"
#include "window/namelist.h"
#include "window/picturebox.h"

namespace {
constexpr int kTwipsPerInch = 1440;
// Reported for exceptions that are not the system's own Error.
constexpr int kInternalError = 51;
constexpr const char* kNameListStatement = "SELECT pic_name FROM pic_list";
constexpr const char* kDefaultPictureStatement = "SELECT * FROM pic_list WHERE  pic_name = '도장'";

struct Twips {
    int left, top, width, height;
};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }
}  // namespace

frmPicture::frmPicture(DesktopServices services, QWidget* parent) : QWidget(parent), services_(std::move(services)) {
    BuildControls();
    loaded_ = Guarded(&frmPicture::Form_Load);
}

// Closing by the frame ends here without ClosePICDB; the handles release the
// database and the workspace.
frmPicture::~frmPicture() = default;

void frmPicture::BuildControls() {
    setWindowTitle(Q(kAppTitle));
    setAccessibleName(Q(kAppTitle));
    setAccessibleDescription(Q("도장 이미지를 이름별로 저장하고 불러오는 창"));

    // Created in keyboard order, so the first one holds the focus at start.
    cboName = new QComboBox(this);
    cboName->setObjectName("cboName");
    cboName->setEditable(true);
    // Typing changes only the text: no inline completion, nothing added on Enter.
    cboName->setCompleter(nullptr);
    cboName->setInsertPolicy(QComboBox::NoInsert);
    // The edit's default limit of 32767 characters would cut a longer list
    // item, and the save would store it under that other name.
    cboName->lineEdit()->setMaxLength(std::numeric_limits<int>::max());
    // The list can hold every stored name; keep measuring and showing it cheap.
    cboName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    if (auto* view = qobject_cast<QListView*>(cboName->view())) view->setUniformItemSizes(true);
    cboName->setEditText(Q("도장"));
    cboName->setAccessibleName(Q("도장 이름"));
    cboName->setAccessibleDescription(Q("저장하거나 찾을 도장의 이름을 입력하거나 목록에서 고릅니다."));

    picName = new PictureBox(this);
    picName->setObjectName("picName");
    picName->setAccessibleName(Q("도장 그림"));
    picName->setAccessibleDescription(Q("지금 보이는 도장 이미지입니다. 저장하면 이 그림이 저장됩니다."));

    auto button = [&](QPushButton*& b, const char* name, const char* caption, const char* accessibleName,
                      const char* description) {
        b = new QPushButton(Q(caption), this);
        b->setObjectName(name);
        // Neither Enter nor Esc presses any button.
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setAccessibleName(Q(accessibleName));
        b->setAccessibleDescription(Q(description));
    };
    button(cmdClose, "cmdClose", "종  료", "종료", "데이타베이스를 닫고 프로그램을 끝냅니다.");
    button(cmdSave, "cmdSave", "저  장", "저장", "보이는 그림을 입력한 이름으로 저장합니다.");
    button(cmdPicture, "cmdPicture", "도장 이미지 불러오기", "도장 이미지 불러오기",
           "비트맵 파일을 골라 그림 상자에 보여 줍니다. 저장은 하지 않습니다.");

    PlaceControls(logicalDpiX(), logicalDpiY());

    setTabOrder(cboName, picName);
    setTabOrder(picName, cmdClose);
    setTabOrder(cmdClose, cmdSave);
    setTabOrder(cmdSave, cmdPicture);
    cboName->setFocus();

    connect(cmdPicture, &QPushButton::clicked, this, &frmPicture::cmdPicture_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmPicture::cmdSave_Click);
    connect(cmdClose, &QPushButton::clicked, this, &frmPicture::cmdClose_Click);
}

void frmPicture::PlaceControls(int dpiX, int dpiY) {
    auto px = [](int twips, int dpi) { return qRound(double(twips) * dpi / kTwipsPerInch); };
    auto place = [&](QWidget* control, Twips t) {
        control->setGeometry(px(t.left, dpiX), px(t.top, dpiY), px(t.width, dpiX), px(t.height, dpiY));
    };
    setFixedSize(px(3540, dpiX), px(1830, dpiY));
    place(cboName, {120, 180, 1035, 315});
    place(picName, {120, 540, 1030, 1030});
    place(cmdClose, {2400, 1080, 975, 435});
    place(cmdSave, {1320, 1080, 975, 435});
    place(cmdPicture, {1320, 600, 2055, 435});
}

std::string frmPicture::TransferFile() const { return TransferFilePath(services_.appFolder); }

void frmPicture::OpenPICDB() { ::OpenPICDB(wrkPIC, dbsPIC, services_.appFolder); }

void frmPicture::ClosePICDB() { ::ClosePICDB(wrkPIC, dbsPIC); }

bool frmPicture::Guarded(void (frmPicture::*work)()) {
    int number = kInternalError;
    std::string description;
    try {
        (this->*work)();
        return true;
    } catch (const Error& e) {
        number = e.Number();
        description = e.Description();
    } catch (const std::exception& e) {
        description = e.what();
    } catch (...) {
        description = "알 수 없는 오류입니다.";
    }
    try {
        services_.messages.MsgBox(
            "오류가 발생했습니다.\n\n오류 번호: " + std::to_string(number) + "\n" + description, vbCritical);
    } catch (...) {
        // Nothing is left to report through; the exception must still not
        // leave a Qt slot.
    }
    return false;
}

void frmPicture::Form_Load() {
    OpenPICDB();
    Recordset rs = dbsPIC.OpenRecordset(kNameListStatement, dbOpenSnapshot);
    auto* names = new NameList(cboName);
    names->Reserve(static_cast<std::size_t>(rs.RecordCount()));
    if (rs.RecordCount() > 0) {
        rs.MoveFirst();
        while (!rs.EOF_()) {
            names->Append(TextOf(rs.Fields(0).Value()));
            rs.MoveNext();
        }
    }
    rs.Close();
    // The whole list at once, in the order read; setting a model moves the
    // current item, so the name box's text is put back.
    const QString text = cboName->currentText();
    cboName->setModel(names);
    cboName->setEditText(text);
    ShowDefaultPIC();
}

void frmPicture::ShowDefaultPIC() {
    Recordset rs = dbsPIC.OpenRecordset(kDefaultPictureStatement, dbOpenSnapshot);
    if (rs.RecordCount() == 0) {
        services_.messages.MsgBox("데이타베이스에 찾는 파일이 없습니다.", vbOKOnly);
    } else {
        const std::string transfer = TransferFile();
        if (services_.files.FileExists(transfer)) services_.files.Kill(transfer);
        Field pic = rs.Fields("pic");
        PICFieldToFile(pic, transfer, services_.files);
        picName->SetPicture(services_.pictures.LoadPicture(transfer));
    }
    rs.Close();
}

void frmPicture::cmdPicture_Click() { Guarded(&frmPicture::OpenPicture); }

void frmPicture::cmdSave_Click() { Guarded(&frmPicture::SavePicture); }

void frmPicture::cmdClose_Click() { Guarded(&frmPicture::CloseWindow); }

void frmPicture::OpenPicture() {
    services_.dialog.SetFilter("그림파일|*.bmp");
    // A cancel keeps what picName shows: reloading the previous name would
    // clear the box, and the next save would store that empty box.
    if (!services_.dialog.ShowOpen()) return;
    const std::string path = services_.dialog.FileName();
    if (path.empty()) return;
    LoadPictureFile(path);
}

void frmPicture::LoadPictureFile(const std::string& path) {
    // The service raises for a file that holds no readable picture, so only
    // the empty path could give a null picture, and this path is never empty.
    QImage picture = services_.pictures.LoadPicture(path);
    assert(!picture.isNull());
    picName->SetPicture(picture);
}

void frmPicture::SavePicture() {
    const std::string name = cboName->currentText().toStdString();
    if (IsBlankName(name)) {
        services_.messages.MsgBox("이름을 입력해 주십시요.", vbCritical);
        cboName->setFocus();
        return;
    }
    const std::string transfer = TransferFile();
    if (services_.files.FileExists(transfer)) services_.files.Kill(transfer);
    // Written whole into a file of our own before the database is touched.
    auto file = services_.files.CreateReplacing(transfer);
    services_.pictures.WriteBitmap(picName->Image(), *file, transfer);
    file->Close();
    // The removal and the new row commit together or not at all.
    if (StorePicture(dbsPIC, name, transfer, services_.files, services_.messages))
        services_.messages.MsgBox("   저장 되었습니다.  ", vbOKOnly);
    else
        services_.messages.MsgBox("저장에 실패했습니다.", vbCritical);
}

void frmPicture::CloseWindow() {
    ClosePICDB();
    close();
}
