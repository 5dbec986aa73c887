#pragma once
// Reading a book for the manager, each piece of work on a connection of its
// own so it may run off the interface thread.
#include <QImage>
#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "manager/stamp_model.h"

class OpenedDatabase;

// The name of every row of pic_list, in Korean order, their facts not yet
// read.
StampList ReadStampList(Database& db);

// The facts of the row the window would show for `name`, read as `list`
// reads them (a bitmap from its header), and the picture decoded into
// `decoded` when it is given and the value is readable.
StampEntry ReadStampFacts(Database& db, const std::string& name, QImage* decoded = nullptr);

// The picture stored under `name` (the row the window would show), decoded;
// a null image with `problem` set when there is none or it is no picture.
QImage ReadStampPicture(Database& db, const std::string& name, std::string* problem = nullptr);

// A version kept in the history, decoded.
QImage ReadVersionPicture(Database& db, long long id, std::string* problem = nullptr);

// `picture` scaled to fit a thumbnail, its aspect kept.
QImage Thumbnail(const QImage& picture);

// Makes thumbnails on a thread of its own, newest request first, over one
// read-only connection it opens there.
class ThumbnailMaker : public QObject {
    Q_OBJECT
public:
    explicit ThumbnailMaker(std::string path);
    ~ThumbnailMaker() override;

public slots:
    // Opens the connection ahead of the first request, while the list is
    // still being read.
    void Open();
    void Want(const QString& name);

signals:
    void Made(const QString& name, const QImage& thumbnail, const StampEntry& facts);

private:
    void MakeNext();

    std::string path_;
    std::unique_ptr<OpenedDatabase> book_;
    QStringList waiting_;
    bool scheduled_ = false;
};
