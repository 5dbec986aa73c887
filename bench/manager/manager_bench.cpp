// 도장 관리 on a big book: from process start to the first painted screen of
// thumbnails (the list read, every visible row's thumbnail made and drawn),
// against the stamp window's start-up on the same book, side by side in one
// run; then the longest the interface thread is kept from its events while
// the list is scrolled from end to end, and the process's peak memory.
// Every run is a fresh process of this executable on the offscreen platform.
//
//   bench_manager [--quick]     --quick: 10,000 rows and 3 runs (else 100,000 and 5)
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <QTimer>

#include <filesystem>

#include "bench/bench_util.h"
#include "bench/picture_db.h"
#include "manager/manager_window.h"
#include "os/files.h"
#include "store/connection.h"
#include "window/frmpicture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStartEnv = "KALDORIA_BENCH_T0";

double SinceStart() { return bench::SinceStart(kStartEnv); }

int WindowChild(int argc, char* argv[], const std::string& folder) {
    QApplication app(argc, argv);
    bench::RecordingBox messages;
    LocalFileSystem files;
    QtPictureService pictures;
    bench::CancelDialog cdPic;
    frmPicture w({messages, files, pictures, cdPic, folder});
    if (!w.Loaded()) return 3;
    QWidget* picName = w.findChild<QWidget*>("picName");
    double seconds = -1;
    struct Filter : QObject {
        QWidget* target;
        double* seconds;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (o == target && e->type() == QEvent::Paint && *seconds < 0)
                QTimer::singleShot(0, qApp, [this] {
                    if (*seconds < 0) *seconds = SinceStart();
                    qApp->quit();
                });
            return false;
        }
    } filter;
    filter.target = picName;
    filter.seconds = &seconds;
    app.installEventFilter(&filter);
    w.show();
    app.exec();
    std::printf("seconds=%.6f\n", seconds);
    return seconds > 0 ? 0 : 3;
}

// The rows the view shows now, as names.
QStringList VisibleNames(QListView* view) {
    QStringList names;
    const QRect area = view->viewport()->rect();
    for (int y = 2; y < area.height(); y += 8) {
        const QModelIndex index = view->indexAt(QPoint(4, y));
        if (index.isValid()) {
            const QString name = index.data(StampModel::NameRole).toString();
            if (names.isEmpty() || names.back() != name) names << name;
        }
    }
    return names;
}

int ManagerChild(int argc, char* argv[], const std::string& book, int rows) {
    QApplication app(argc, argv);
    const double appMade = SinceStart();
    ManagerWindow w(book);
    w.resize(900, 700);
    w.show();
    const double windowMade = SinceStart();
    double listed = -1;
    QObject::connect(&w, &ManagerWindow::Loaded, [&] { listed = SinceStart(); });
    double firstScreen = -1;
    // Polled from the event loop: the list is in, and every row on screen has
    // its thumbnail, painted.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (w.Model().rowCount() != rows) return;
        const QStringList visible = VisibleNames(w.View());
        if (visible.isEmpty()) return;
        for (const QString& name : visible)
            if (!w.Model().HasThumbnail(name)) return;
        poll.stop();
        w.View()->viewport()->repaint();
        firstScreen = SinceStart();
        qApp->quit();
    });
    poll.start(1);
    app.exec();
    if (firstScreen < 0) return 3;

    // Scrolled from end to end in 300 jumps, as a dragged scroll bar does,
    // each one a screen of rows whose thumbnails are yet to be made: the
    // longest gap between ticks of a 1 ms timer is the longest stall.
    QScrollBar* bar = w.View()->verticalScrollBar();
    double longest = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, (now - last) / 1e9);
        last = now;
    });
    QTimer step;
    int steps = 0;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (bar->value() >= bar->maximum()) {
            step.stop();
            // Let the last screen's thumbnails come in.
            QTimer::singleShot(300, qApp, [] { qApp->quit(); });
            return;
        }
        bar->setValue(std::min(bar->maximum(), bar->value() + std::max(bar->pageStep(), bar->maximum() / 300)));
        ++steps;
    });
    tick.start(1);
    step.start(16);  // a key's auto-repeat is slower than this
    app.exec();
    std::printf("seconds=%.6f\nstall=%.6f\nsteps=%d\nhwm_kib=%ld\napp=%.6f\nwindow=%.6f\nlisted=%.6f\n", firstScreen,
                longest, steps, bench::StatusKib("VmHWM"), appMade, windowMade, listed);
    return 0;
}

bench::ChildResult Start(const std::vector<std::string>& args) { return bench::RunTimedChild(args, kStartEnv); }

int Driver(bool quick) {
    const int rows = quick ? 10000 : 100000;
    const int runs = quick ? 3 : 5;
    const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-manager-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    bench::MakePictureDatabase(DatabasePath(dir.string()), rows);
    std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
    std::printf("%d stamps; start = parent just before fork; offscreen platform, 900 x 700 window; medians of %d runs\n\n",
                rows, runs);
    std::vector<double> window, manager, stall, hwm, app, made, listed;
    for (int run = 0; run < runs; ++run) {
        window.push_back(bench::Field(Start({"window", dir.string()}).out, "seconds"));
        const std::string out = Start({"manager", DatabasePath(dir.string()), std::to_string(rows)}).out;
        manager.push_back(bench::Field(out, "seconds"));
        stall.push_back(bench::Field(out, "stall"));
        hwm.push_back(bench::Field(out, "hwm_kib"));
        app.push_back(bench::Field(out, "app"));
        made.push_back(bench::Field(out, "window"));
        listed.push_back(bench::Field(out, "listed"));
    }
    const double w = bench::Median(window), m = bench::Median(manager), s = *std::max_element(stall.begin(), stall.end());
    std::printf("%-48s %9.1f ms\n", "stamp window: first paint", w * 1000);
    std::printf("%-48s %9.1f ms\n", "manager: application object made", bench::Median(app) * 1000);
    std::printf("%-48s %9.1f ms\n", "manager: window made and shown", bench::Median(made) * 1000);
    std::printf("%-48s %9.1f ms\n", "manager: names read, ordered and listed", bench::Median(listed) * 1000);
    std::printf("%-48s %9.1f ms  %.2fx  (goal <= 2x: %s)\n", "manager: first painted screen of thumbnails", m * 1000,
                m / w, m / w <= 2 ? "met" : "MISSED");
    std::printf("%-48s %9.1f ms  (goal <= 50 ms: %s)\n", "manager: longest stall scrolling end to end", s * 1000,
                s <= 0.05 ? "met" : "MISSED");
    std::printf("%-48s %9.1f MiB\n", "manager: peak memory (VmHWM)", bench::Median(hwm) / 1024);
    fs::remove_all(dir);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_manager", [&] {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "window" && argc == 3) return WindowChild(1, argv, argv[2]);
        if (mode == "manager" && argc == 4) return ManagerChild(1, argv, argv[2], std::atoi(argv[3]));
        if (mode.empty() || mode == "--quick") return Driver(mode == "--quick");
        std::fprintf(stderr, "usage: %s [--quick]\n", argv[0]);
        return 2;
    });
}
