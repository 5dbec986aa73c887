#pragma once
// The stamps of a book as the manager lists them: every name with its size,
// pixels and format (or why its value is no picture), in Korean order, a
// thumbnail each, made when the view first asks for it.
#include <QAbstractListModel>
#include <QCache>
#include <QCollator>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QSize>
#include <QSortFilterProxyModel>
#include <string>
#include <vector>

struct StampEntry {
    std::string name;
    qint64 bytes = 0;
    QSize size;           // when readable
    QByteArray format;    // "bmp", "png"… when readable
    std::string problem;  // why the value is no readable picture, else empty
    bool Readable() const { return problem.empty(); }
};

// Orders `stamps` as a Korean reader expects (Qt's collation for Korean,
// ICU's where Qt is built with it), numbers inside names by their value.
// Run off the interface thread: 100,000 names take a tenth of a second.
void SortForKoreanReaders(std::vector<StampEntry>& stamps);

// A thumbnail's longer side, in pixels.
inline constexpr int kThumbnailSide = 64;

class StampModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { NameRole = Qt::UserRole + 1, BytesRole, FactsRole, ProblemRole };

    explicit StampModel(QObject* parent = nullptr);

    // Replaces the list with `sorted` (SortForKoreanReaders); thumbnails of
    // names whose entry is unchanged are kept.
    void SetStamps(std::vector<StampEntry> sorted);
    const std::vector<StampEntry>& Stamps() const { return stamps_; }
    // The row of `name`, or -1.
    int RowOf(const std::string& name) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

public slots:
    // A thumbnail made off the interface thread; an empty image marks a
    // value that could not be made one.
    void ThumbnailReady(const QString& name, const QImage& thumbnail);

signals:
    // The view wants a thumbnail not yet made; asked once per name.
    void ThumbnailWanted(const QString& name) const;

private:
    std::vector<StampEntry> stamps_;
    QHash<QString, int> rows_;  // a name's row
    mutable QCache<QString, QImage> thumbnails_;  // bounded: a 100,000-stamp book is not held whole
    mutable QSet<QString> asked_;
};

// "64×64 BMP, 12,342 바이트", or the reason the value is no picture.
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
