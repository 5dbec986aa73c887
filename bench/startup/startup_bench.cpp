// Start-up: from process start to the first paint of the window, with the
// name list filled and "도장" drawn, for databases of 0, 1,000 and 100,000
// rows, against a bare Qt window with the same five controls. Every run is a
// fresh process of this one executable (so both sides load the same
// libraries) on the offscreen platform; the clock starts in the parent just
// before the child is started and stops in the child once the picture box
// (or the bare window's frame) has been painted for the first time.
//
//   bench_startup [--quick]      --quick: 3 runs and no 100,000-row case
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "os/files.h"
#include "window/frmpicture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStartEnv = "KALDORIA_BENCH_T0";

// Quits the event loop once `target` has been painted and that paint has
// been flushed (the zero timer runs after the whole repaint has finished).
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget* target) : target_(target) { qApp->installEventFilter(this); }
    double seconds = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == target_ && event->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, qApp, [this] {
                seconds = bench::SinceStart(kStartEnv);
                qApp->quit();
            });
        }
        return false;
    }

private:
    QWidget* target_;
    bool seen_ = false;
};

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

int BareChild(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget w;
    w.setWindowTitle("Kaldoria");
    auto px = [](int twips, int dpi) { return qRound(double(twips) * dpi / 1440); };
    const int dx = w.logicalDpiX(), dy = w.logicalDpiY();
    auto place = [&](QWidget* c, int l, int t, int wd, int h) { c->setGeometry(px(l, dx), px(t, dy), px(wd, dx), px(h, dy)); };
    w.setFixedSize(px(3540, dx), px(1830, dy));
    auto* combo = new QComboBox(&w);
    combo->setEditable(true);
    combo->setEditText(Q("도장"));
    auto* frame = new QFrame(&w);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(2);
    frame->setAutoFillBackground(true);
    auto* close = new QPushButton(Q("종  료"), &w);
    auto* save = new QPushButton(Q("저  장"), &w);
    auto* picture = new QPushButton(Q("도장 이미지 불러오기"), &w);
    place(combo, 120, 180, 1035, 315);
    place(frame, 120, 540, 1030, 1030);
    place(close, 2400, 1080, 975, 435);
    place(save, 1320, 1080, 975, 435);
    place(picture, 1320, 600, 2055, 435);
    FirstPaint stop(frame);
    w.show();
    app.exec();
    std::printf("seconds=%.6f\n", stop.seconds);
    return stop.seconds > 0 ? 0 : 3;
}

int WindowChild(int argc, char* argv[], const std::string& folder, int rows) {
    QApplication app(argc, argv);
    bench::RecordingBox messages;
    LocalFileSystem files;
    QtPictureService pictures;
    bench::CancelDialog cdPic;
    frmPicture w({messages, files, pictures, cdPic, folder});
    if (!w.Loaded()) return 3;
    auto* picName = w.findChild<QWidget*>("picName");
    FirstPaint stop(picName);
    w.show();
    app.exec();
    // What the user would see, checked after the clock stopped.
    auto* cboName = w.findChild<QComboBox*>("cboName");
    if (!cboName || cboName->count() != rows) return 4;
    if (messages.shown.size() != (rows == 0 ? 1u : 0u)) return 5;
    if (rows > 0) {
        const QImage shown = picName->grab().toImage();
        int red = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (QColor(shown.pixel(x, y)) == QColor(0xD0, 0x10, 0x10)) ++red;
        if (red < 100) return 6;
    }
    std::printf("seconds=%.6f\n", stop.seconds);
    return stop.seconds > 0 ? 0 : 3;
}

bench::ChildResult Start(const std::vector<std::string>& args) { return bench::RunTimedChild(args, kStartEnv); }

int Driver(bool quick) {
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-startup-" + std::to_string(::getpid()));
    std::vector<int> sizes = quick ? std::vector<int>{0, 1000} : std::vector<int>{0, 1000, 100000};
    const int runs = quick ? 3 : 11;
    for (int rows : sizes) {
        fs::create_directories(dir / std::to_string(rows));
        bench::MakePictureDatabase(DatabasePath((dir / std::to_string(rows)).string()), rows);
    }
    std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
    std::printf("start = parent just before fork; stop = child after the first paint of the picture box; "
                "offscreen platform; medians of %d runs\n\n",
                runs);
    std::vector<double> bare;
    std::vector<std::vector<double>> window(sizes.size());
    for (int run = 0; run < runs; ++run) {
        bare.push_back(bench::Field(Start({"bare"}).out, "seconds"));
        for (std::size_t i = 0; i < sizes.size(); ++i)
            window[i].push_back(bench::Field(
                Start({"window", (dir / std::to_string(sizes[i])).string(), std::to_string(sizes[i])}).out, "seconds"));
    }
    const double base = bench::Median(bare);
    std::printf("%-22s %9s %7s %8s\n", "case", "ms", "ratio", "goal");
    std::printf("%-22s %9.1f %7s %8s\n", "bare Qt window", base * 1000, "1.00", "");
    bool allMet = true;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        const double m = bench::Median(window[i]);
        const double goal = sizes[i] == 1000 ? 1.25 : sizes[i] == 100000 ? 1.5 : 0;
        const bool met = goal == 0 || m / base <= goal;
        allMet = allMet && met;
        std::printf("frmPicture %6d rows %9.1f %7.2f %8s\n", sizes[i], m * 1000, m / base,
                    goal == 0 ? "" : (met ? "met" : "MISSED"));
    }
    std::printf("\ngoals: <= 1.25x at 1,000 rows, <= 1.5x at 100,000 rows; list and picture checked in every run\n%s\n",
                allMet ? "all goals met" : "some goals MISSED");
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_startup", [&] {
        std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "bare") return BareChild(1, argv);
        if (mode == "window" && argc == 4) return WindowChild(1, argv, argv[2], std::atoi(argv[3]));
        if (mode.empty() || mode == "--quick") return Driver(mode == "--quick");
        std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
        return 2;
    });
}
