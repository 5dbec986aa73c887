#include "manager/stamp_model.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>

#include "text/hangul_search.h"

namespace {

// What a row shows until its thumbnail is made: an empty frame.
const QImage& Placeholder() {
    static const QImage frame = [] {
        QImage image(kThumbnailSide, kThumbnailSide, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setPen(QColor(200, 200, 200));
        painter.drawRect(0, 0, kThumbnailSide - 1, kThumbnailSide - 1);
        return image;
    }();
    return frame;
}

}  // namespace

QString FactsOf(const StampEntry& entry) {
    const QString bytes = QLocale(QLocale::Korean).toString(entry.bytes) + " 바이트";
    if (!entry.Readable()) return bytes + " — " + QString::fromStdString(entry.problem);
    return QString("%1×%2 %3, %4").arg(entry.size.width()).arg(entry.size.height()).arg(QString(entry.format.toUpper()), bytes);
}

StampModel::StampModel(QObject* parent) : QAbstractListModel(parent) {
    thumbnails_.setMaxCost(4000);
}

void SortForKoreanReaders(std::vector<StampEntry>& stamps) {
    QCollator collator{QLocale(QLocale::Korean)};
    collator.setNumericMode(true);
    // Sort keys once per name: comparing 100,000 names pairwise through the
    // collator would cost a second.
    std::vector<std::pair<QCollatorSortKey, std::size_t>> keys;
    keys.reserve(stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i)
        keys.emplace_back(collator.sortKey(QString::fromStdString(stamps[i].name)), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first.compare(b.first) < 0; });
    std::vector<StampEntry> sorted;
    sorted.reserve(stamps.size());
    for (const auto& [key, i] : keys) sorted.push_back(std::move(stamps[i]));
    stamps = std::move(sorted);
}

void StampModel::SetStamps(std::vector<StampEntry> sorted) {
    beginResetModel();
    // A name whose value changed (a replace, a restore) gets a new thumbnail.
    QHash<QString, int> rows;
    rows.reserve(static_cast<qsizetype>(sorted.size()));
    QSet<QString> unchanged;
    for (std::size_t i = 0; i < sorted.size(); ++i) {
        const QString name = QString::fromStdString(sorted[i].name);
        const int old = rows_.value(name, -1);
        if (old >= 0 && stamps_[static_cast<std::size_t>(old)].bytes == sorted[i].bytes) unchanged.insert(name);
        rows.insert(name, static_cast<int>(i));  // two rows of one name: the later one
    }
    for (const QString& name : thumbnails_.keys())
        if (!unchanged.contains(name)) thumbnails_.remove(name);
    asked_.intersect(unchanged);
    stamps_ = std::move(sorted);
    rows_ = std::move(rows);
    endResetModel();
}

int StampModel::RowOf(const std::string& name) const { return rows_.value(QString::fromStdString(name), -1); }

int StampModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(stamps_.size()); }

QVariant StampModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const StampEntry& e = stamps_[static_cast<std::size_t>(index.row())];
    const QString name = QString::fromStdString(e.name);
    switch (role) {
    case Qt::DisplayRole: return name + "\n" + FactsOf(e);
    case Qt::AccessibleTextRole:
    case NameRole: return name;
    case Qt::ToolTipRole:
    case FactsRole: return FactsOf(e);
    case BytesRole: return e.bytes;
    case ProblemRole: return QString::fromStdString(e.problem);
    case Qt::DecorationRole: {
        if (const QImage* made = thumbnails_.object(name)) return made->isNull() ? Placeholder() : *made;
        if (e.Readable() && !asked_.contains(name)) {
            asked_.insert(name);
            emit ThumbnailWanted(name);
        }
        return Placeholder();
    }
    default: return {};
    }
}

void StampModel::ThumbnailReady(const QString& name, const QImage& thumbnail) {
    thumbnails_.insert(name, new QImage(thumbnail), 1);
    asked_.remove(name);  // asked again should the cache let it go
    const int row = RowOf(name.toStdString());
    if (row >= 0) emit dataChanged(index(row), index(row), {Qt::DecorationRole});
}

StampFilter::StampFilter(QObject* parent) : QSortFilterProxyModel(parent) {}

void StampFilter::SetQuery(const QString& query) {
    query_ = query.trimmed().toStdString();
    invalidateFilter();
}

bool StampFilter::filterAcceptsRow(int row, const QModelIndex& parent) const {
    if (query_.empty()) return true;
    const QModelIndex index = sourceModel()->index(row, 0, parent);
    return MatchesSearch(index.data(StampModel::NameRole).toString().toStdString(), query_);
}
