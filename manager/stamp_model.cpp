#include "manager/stamp_model.h"

#include <QLocale>
#include <QPainter>
#include <algorithm>
#include <iterator>

#include "text/hangul_search.h"
#include "text/korean_order.h"

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
    if (!entry.known) return "읽는 중…";
    const QString bytes = QLocale(QLocale::Korean).toString(entry.bytes) + " 바이트";
    if (!entry.Readable()) return bytes + " — " + QString::fromStdString(entry.problem);
    return QString("%1×%2 %3, %4").arg(entry.size.width()).arg(entry.size.height()).arg(QString(entry.format.toUpper()), bytes);
}

StampModel::StampModel(QObject* parent) : QAbstractListModel(parent) {
    thumbnails_.setMaxCost(4000);
}

namespace {

QCollator KoreanCollator() {
    QCollator collator{QLocale(QLocale::Korean)};
    collator.setNumericMode(true);
    return collator;
}

// Whether the platform's collation orders Korean names as a reader expects,
// by its sort keys (which Wine makes without regard to Korean even where its
// comparison is right).
bool PlatformOrdersKorean() {
    const QCollator c = KoreanCollator();
    const char* const ordered[] = {"ㄱ", "가", "나", "회", "직원 9", "직원 10"};
    for (std::size_t i = 0; i + 1 < std::size(ordered); ++i)
        if (c.sortKey(QString::fromUtf8(ordered[i])).compare(c.sortKey(QString::fromUtf8(ordered[i + 1]))) >= 0)
            return false;
    return true;
}

}  // namespace

KoreanOrder::KoreanOrder() : platform_(PlatformOrdersKorean()), helper_([this] { MakeKeys(false); }) {}

KoreanOrder::~KoreanOrder() {
    if (helper_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        arrived_.notify_all();
        helper_.join();
    }
}

void KoreanOrder::Add(std::string name) {
    filling_.push_back(std::move(name));
    if (filling_.size() == kChunk) Pass();
}

void KoreanOrder::Pass() {
    if (filling_.empty()) return;
    {
        std::lock_guard lock(mutex_);
        chunks_.push_back(Chunk{std::move(filling_), {}, {}});
    }
    filling_ = {};
    filling_.reserve(kChunk);
    arrived_.notify_one();
}

// Takes chunks without keys and makes their keys, until every chunk has
// them (`last`: the reader, after its last name) or the reader is done and
// nothing is left (the helper).
void KoreanOrder::MakeKeys(bool last) {
    const QCollator collator = KoreanCollator();
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock lock(mutex_);
            arrived_.wait(lock, [&] { return next_ < chunks_.size() || finished_ || last; });
            if (next_ == chunks_.size()) return;
            chunk = &chunks_[next_++];
        }
        std::vector<QCollatorSortKey> keys;
        std::vector<std::string> plainKeys;
        if (platform_) {
            keys.reserve(chunk->names.size());
            for (const std::string& name : chunk->names) keys.push_back(collator.sortKey(QString::fromStdString(name)));
        } else {
            plainKeys.reserve(chunk->names.size());
            for (const std::string& name : chunk->names) plainKeys.push_back(KoreanSortKey(name));
        }
        std::lock_guard lock(mutex_);
        chunk->keys = std::move(keys);
        chunk->plainKeys = std::move(plainKeys);
    }
}

std::vector<StampEntry> KoreanOrder::Finish() {
    Pass();
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    arrived_.notify_all();
    MakeKeys(true);  // the reader takes its share of what is left
    helper_.join();
    // Sort keys once per name: comparing 100,000 names pairwise through the
    // collator would cost a second.
    struct Place {
        Chunk* chunk;
        std::size_t i;
    };
    std::vector<Place> order;
    for (Chunk& chunk : chunks_)
        for (std::size_t i = 0; i < chunk.names.size(); ++i) order.push_back({&chunk, i});
    if (platform_)
        std::stable_sort(order.begin(), order.end(),
                         [](const Place& a, const Place& b) { return a.chunk->keys[a.i].compare(b.chunk->keys[b.i]) < 0; });
    else
        std::stable_sort(order.begin(), order.end(), [](const Place& a, const Place& b) {
            return a.chunk->plainKeys[a.i] < b.chunk->plainKeys[b.i];
        });
    std::vector<StampEntry> sorted(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) sorted[i].name = std::move(order[i].chunk->names[order[i].i]);
    chunks_.clear();
    return sorted;
}

std::unordered_map<std::string_view, int> RowsOf(const std::vector<StampEntry>& stamps) {
    std::unordered_map<std::string_view, int> rows;
    rows.reserve(stamps.size());
    for (std::size_t i = 0; i < stamps.size(); ++i) rows[stamps[i].name] = static_cast<int>(i);
    return rows;
}

void StampModel::SetStamps(StampList list) {
    beginResetModel();
    // Every row is read again when next shown: another PC may have changed
    // it. Until then a row shows the thumbnail it had.
    asked_.clear();
    stamps_ = std::move(list.stamps);
    rows_ = std::move(list.rows);
    endResetModel();
}

void StampModel::Clear() {
    SetStamps({});
    thumbnails_.clear();
}

int StampModel::RowOf(const std::string& name) const {
    const auto found = rows_.find(name);
    return found == rows_.end() ? -1 : found->second;
}

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
        // Read when first shown, and again when the cache has let its
        // thumbnail go.
        const bool wanted = !e.known || (e.Readable() && !thumbnails_.contains(name));
        if (wanted && !asked_.contains(name)) {
            asked_.insert(name);
            emit ThumbnailWanted(name);
        }
        if (const QImage* made = thumbnails_.object(name); made && !made->isNull()) return *made;
        return Placeholder();
    }
    default: return {};
    }
}

void StampModel::ThumbnailReady(const QString& name, const QImage& thumbnail, const StampEntry& facts) {
    thumbnails_.insert(name, new QImage(thumbnail), 1);
    asked_.remove(name);
    const int row = RowOf(name.toStdString());
    if (row < 0) return;
    StampEntry& entry = stamps_[static_cast<std::size_t>(row)];
    entry.known = true;
    entry.bytes = facts.bytes;
    entry.size = facts.size;
    entry.format = facts.format;
    entry.problem = facts.problem;
    emit dataChanged(index(row), index(row), {Qt::DecorationRole, Qt::DisplayRole, Qt::ToolTipRole});
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
