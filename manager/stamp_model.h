#pragma once
// The stamps of a book as the manager lists them: every name with its size,
// pixels and format (or why its value is no picture), in Korean order, a
// thumbnail each, made when the view first asks for it.
#include <QAbstractListModel>
#include <QCache>
#include <QCollator>
#include <QHash>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <QImage>
#include <QSet>
#include <QSize>
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

struct StampEntry {
    std::string name;
    // Read with the thumbnail, when the row is first shown: a book of
    // 100,000 stamps opens on its names alone.
    bool known = false;
    qint64 bytes = 0;
    QSize size;           // when readable
    QByteArray format;    // "bmp", "png"… when readable
    std::string problem;  // why the value is no readable picture, else empty
    bool Readable() const { return problem.empty(); }
};

// A book's stamps in the order the list shows them, with the row of each
// name; made off the interface thread (ReadStampList), handed to the model.
struct StampList {
    std::vector<StampEntry> stamps;
    // The row of each name (two rows of one name: the later), viewing the
    // names inside `stamps`: moving the list keeps them where they are.
    std::unordered_map<std::string_view, int> rows;
};

// The row of each name of `stamps`.
std::unordered_map<std::string_view, int> RowsOf(const std::vector<StampEntry>& stamps);

// Names put in the order a Korean reader expects (Qt's collation for
// Korean, ICU's where Qt is built with it, the system's on Windows),
// numbers inside names by their value. Where that collation does not order
// Korean (Wine's), KoreanSortKey (text/korean_order.h) does. Off the interface thread: names are added as a book is read, and a
// second thread makes their sort keys meanwhile, so reading and ordering
// 100,000 names costs little more than reading them.
class KoreanOrder {
public:
    KoreanOrder();
    ~KoreanOrder();
    KoreanOrder(const KoreanOrder&) = delete;
    KoreanOrder& operator=(const KoreanOrder&) = delete;
    void Add(std::string name);
    // Every name added, in order, as entries whose facts are not yet read.
    std::vector<StampEntry> Finish();

private:
    static constexpr std::size_t kChunk = 2048;
    struct Chunk {
        std::vector<std::string> names;
        std::vector<QCollatorSortKey> keys;  // by the platform's collation
        std::vector<std::string> plainKeys;  // or by KoreanSortKey
    };
    void Pass();
    void MakeKeys(bool last);

    std::vector<std::string> filling_;
    std::deque<Chunk> chunks_;  // a deque: a chunk stays where it is while others are added
    std::size_t next_ = 0;      // the first chunk no thread has taken
    bool platform_;             // the platform's collation orders Korean
    bool finished_ = false;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::thread helper_;
};


// A thumbnail's longer side, in pixels.
inline constexpr int kThumbnailSide = 64;

class StampModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { NameRole = Qt::UserRole + 1, BytesRole, FactsRole, ProblemRole };

    explicit StampModel(QObject* parent = nullptr);

    // Replaces the list with `list` (in KoreanOrder); each row's
    // facts and thumbnail are read again when it is next shown.
    void SetStamps(StampList list);
    // No book: no rows and no thumbnails.
    void Clear();
    const std::vector<StampEntry>& Stamps() const { return stamps_; }
    // The row of `name`, or -1.
    int RowOf(const std::string& name) const;
    // Whether the thumbnail of `name` has been made (and is still held).
    bool HasThumbnail(const QString& name) const { return thumbnails_.contains(name); }

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

public slots:
    // A thumbnail made off the interface thread with the facts of the value
    // it was made from; an empty image marks a value that is no picture.
    void ThumbnailReady(const QString& name, const QImage& thumbnail, const StampEntry& facts);

signals:
    // The view shows a row whose facts and thumbnail are not yet read; asked
    // once per name and list.
    void ThumbnailWanted(const QString& name) const;

private:
    std::vector<StampEntry> stamps_;
    std::unordered_map<std::string_view, int> rows_;  // a name's row, viewing stamps_
    // Bounded: a 100,000-stamp book is not held whole. A row whose thumbnail
    // the cache let go shows an empty frame until it is read again.
    mutable QCache<QString, QImage> thumbnails_;
    mutable QSet<QString> asked_;
};

// "64×64 BMP, 12,342 바이트", the reason the value is no picture, or that it
// is still being read.
QString FactsOf(const StampEntry& entry);

// The filter of the search box: a substring or initial consonants (초성).
class StampFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit StampFilter(QObject* parent = nullptr);
    void SetQuery(const QString& query);

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override;

private:
    std::string query_;
};
