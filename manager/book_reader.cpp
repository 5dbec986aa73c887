#include "manager/book_reader.h"

#include <QMetaObject>

#include "keeper/book.h"
#include "keeper/stored_picture.h"
#include "store/save.h"

StampList ReadStampList(Database& db) {
    KoreanOrder order;
    // The names alone, as the stamp window lists them: the name's index
    // holds them, so the pictures' pages are not read.
    Recordset rs = db.OpenRecordset("SELECT pic_name FROM pic_list", dbOpenSnapshot, dbReadOnly);
    const Field name = rs.Fields(0);
    for (; !rs.EOF_(); rs.MoveNext()) {
        const Variant value = name.Value();
        if (IsNull(value)) continue;  // a row no name can reach is not the manager's to show
        order.Add(TextOf(value));
    }
    rs.Close();
    StampList list{order.Finish(), {}};
    list.rows = RowsOf(list.stamps);
    return list;
}

StampEntry ReadStampFacts(Database& db, const std::string& name, QImage* decoded) {
    StampEntry entry;
    entry.name = name;
    entry.known = true;
    Recordset rs = db.OpenRecordset("SELECT * FROM pic_list " + NameCondition(name), dbOpenSnapshot, dbReadOnly);
    if (rs.EOF_()) {
        entry.problem = "그런 이름의 도장이 없습니다 (다른 PC에서 지웠을 수 있습니다)";
        return entry;
    }
    const StoredPicture picture = InspectPicture(rs.Fields("pic"), decoded);
    rs.Close();
    entry.bytes = picture.bytes;
    entry.size = picture.size;
    entry.format = picture.format;
    if (!picture.readable) entry.problem = picture.problem.empty() ? "읽을 수 없는 값입니다" : picture.problem;
    return entry;
}

namespace {

QImage Decoded(Database& db, const std::string& statement, std::string* problem) {
    Recordset rs = db.OpenRecordset(statement, dbOpenSnapshot, dbReadOnly);
    if (rs.EOF_()) {
        if (problem) *problem = "그런 이름의 도장이 없습니다";
        return {};
    }
    QImage image;
    const StoredPicture picture = InspectPicture(rs.Fields("pic"), &image);
    rs.Close();
    if (!picture.readable && problem) *problem = picture.problem;
    return picture.readable ? image : QImage();
}

}  // namespace

QImage ReadStampPicture(Database& db, const std::string& name, std::string* problem) {
    return Decoded(db, "SELECT * FROM pic_list " + NameCondition(name), problem);
}

QImage ReadVersionPicture(Database& db, long long id, std::string* problem) {
    return Decoded(db, "SELECT pic FROM pic_history WHERE id = " + std::to_string(id), problem);
}

QImage Thumbnail(const QImage& picture) {
    if (picture.isNull()) return {};
    if (picture.width() <= kThumbnailSide && picture.height() <= kThumbnailSide) return picture;
    return picture.scaled(kThumbnailSide, kThumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

ThumbnailMaker::ThumbnailMaker(std::string path) : path_(std::move(path)) {}

ThumbnailMaker::~ThumbnailMaker() = default;

void ThumbnailMaker::Open() {
    try {
        if (!book_) book_ = std::make_unique<OpenedDatabase>(path_, true);
    } catch (const Error&) {
        // Said by the list's own read; the first request tries again.
    }
}

void ThumbnailMaker::Want(const QString& name) {
    waiting_.removeAll(name);
    waiting_.append(name);
    if (scheduled_) return;
    scheduled_ = true;
    QMetaObject::invokeMethod(this, [this] { MakeNext(); }, Qt::QueuedConnection);
}

void ThumbnailMaker::MakeNext() {
    scheduled_ = false;
    if (waiting_.isEmpty()) return;
    // The newest request is the row the user looks at now.
    const QString name = waiting_.takeLast();
    QImage thumbnail;
    StampEntry facts;
    try {
        if (!book_) book_ = std::make_unique<OpenedDatabase>(path_, true);
        QImage picture;
        facts = ReadStampFacts(book_->db(), name.toStdString(), &picture);
        thumbnail = Thumbnail(picture);
    } catch (const Error& e) {
        book_.reset();  // a lost connection is opened again for the next one
        facts.known = true;
        facts.problem = e.what();
    }
    emit Made(name, thumbnail, facts);
    if (!waiting_.isEmpty()) {
        scheduled_ = true;
        QMetaObject::invokeMethod(this, [this] { MakeNext(); }, Qt::QueuedConnection);
    }
}
