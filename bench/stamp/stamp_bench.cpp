// kaldoria-db stamp on one page of a 100-page, 10 MB PDF, against
// `qpdf --overlay` putting the same seal page over the same page: time and
// peak memory of each whole process (medians of N runs, the two sides
// taking turns), and how much each output grew over the input, beside the
// size of the seal's own PNG.
//
// The document: 100 A4 pages, each a different noisy photograph (as a
// scanner makes them) with a line of text; the last says "(인)". It is
// written by Qt's PDF writer. The seal page for qpdf is the seal stamped by
// kaldoria-db itself onto a blank A4 page, so both outputs draw the same
// picture at the same place.
//   bench_stamp [--runs N] [--keep]   (--keep: the document and the book stay, for a profiler)
#include <QGuiApplication>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>

#include "bench/bench_util.h"

namespace fs = std::filesystem;

namespace {

void MakeDocument(const std::string& path, int pages) {
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setResolution(150);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    QRandomGenerator random(2026);
    for (int page = 0; page < pages; ++page) {
        if (page > 0) writer.newPage();
        // A small photograph, each different: about 100 KB of image data a page.
        QImage photo(430, 300, QImage::Format_RGB32);
        for (int y = 0; y < photo.height(); ++y)
            for (int x = 0; x < photo.width(); ++x)
                photo.setPixel(x, y, qRgb(120 + random.bounded(100), 120 + random.bounded(100), 110 + random.bounded(100)));
        painter.drawImage(QRect(150, 300, 1000, 700), photo);
        painter.setFont(QFont("Noto Sans CJK KR", 14));
        painter.drawText(QPoint(150, 1200), QString("견적서 %1쪽 — 주식회사 칼도리아").arg(page + 1));
        if (page == pages - 1) painter.drawText(QPoint(900, 1400), QStringLiteral("대표이사 김도장 (인)"));
    }
    painter.end();
}

void MakeBlankPage(const std::string& path) {
    QPdfWriter writer(QString::fromStdString(path));
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    painter.end();
}

}  // namespace

int main(int argc, char* argv[]) {
    return bench::Main("bench_stamp", [&] {
        int runs = 7;
        bool keep = false;
        for (int i = 1; i < argc; ++i) {
            if (std::string(argv[i]) == "--runs" && i + 1 < argc) runs = std::atoi(argv[++i]);
            if (std::string(argv[i]) == "--keep") keep = true;
        }
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        const fs::path dir = fs::temp_directory_path() / ("kaldoria-bench-stamp-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        struct Removed {
            fs::path p;
            bool keep;
            ~Removed() {
                if (keep) std::printf("files kept in %s\n", p.c_str());
                else fs::remove_all(p);
            }
        } removed{dir, keep};
        const std::string doc = (dir / "document.pdf").string(), book = (dir / "dojang.mdb").string();
        MakeDocument(doc, 100);
        bench::Checked(bench::Run({KALDORIA_DB, "create", book, "--sample"}), "create");
        // The seal page: the same seal, at the same place, on a blank page.
        const std::string blank = (dir / "blank.pdf").string(), sealPage = (dir / "seal.pdf").string();
        MakeBlankPage(blank);
        const std::vector<std::string> place = {"--at", "150,240", "--size", "24"};
        std::vector<std::string> stampSeal = {KALDORIA_DB, "stamp", book, "도장", blank, sealPage};
        stampSeal.insert(stampSeal.end(), place.begin(), place.end());
        bench::Checked(bench::Run(stampSeal), "stamp of the seal page");
        const std::string png = (dir / "seal.png").string();
        bench::Checked(bench::Run({KALDORIA_DB, "export", book, "도장", png, "--transparent", "--crop", "--size", "24"}), "export");

        std::printf("machine: %s\n", bench::Machine(dir.string()).c_str());
        std::printf("document: 100 pages, %.1f MB (Qt's PDF writer); seal PNG %ld bytes; medians of %d runs\n",
                    static_cast<double>(fs::file_size(doc)) / 1e6, static_cast<long>(fs::file_size(png)), runs);
        // Growth is counted against the document rewritten by qpdf the same way without a seal:
        // a rewrite alone changes the size (object streams, compression).
        const std::string plainNone = (dir / "plain-none.pdf").string(), plain = (dir / "plain.pdf").string();
        bench::Checked(bench::Run({"qpdf", "--decode-level=none", doc, plainNone}), "qpdf rewrite");
        bench::Checked(bench::Run({"qpdf", doc, plain}), "qpdf rewrite");
        bench::Side ours, qpdf;
        long oursGrowth = 0, qpdfGrowth = 0;
        for (int r = 0; r < runs; ++r) {
            const std::string out = (dir / ("ours-" + std::to_string(r) + ".pdf")).string();
            std::vector<std::string> stamp = {KALDORIA_DB, "stamp", book, "도장", doc, out, "--page", "100"};
            stamp.insert(stamp.end(), place.begin(), place.end());
            ours.Add(bench::Checked(bench::Run(stamp), "stamp"));
            oursGrowth = static_cast<long>(fs::file_size(out)) - static_cast<long>(fs::file_size(plainNone));
            fs::remove(out);
            const std::string theirs = (dir / ("qpdf-" + std::to_string(r) + ".pdf")).string();
            qpdf.Add(bench::Checked(bench::Run({"qpdf", doc, "--overlay", sealPage, "--to=100", "--", theirs}), "qpdf --overlay"));
            qpdfGrowth = static_cast<long>(fs::file_size(theirs)) - static_cast<long>(fs::file_size(plain));
            fs::remove(theirs);
        }
        const double o = bench::Median(ours.seconds), q = bench::Median(qpdf.seconds);
        std::printf("stamp, page 100 of 100   ours %.3f s (peak %.1f MiB, +%ld bytes)   qpdf --overlay %.3f s (peak %.1f MiB, +%ld bytes)   "
                    "ratio %.2f\n",
                    o, ours.peakKib / 1024.0, oursGrowth, q, qpdf.peakKib / 1024.0, qpdfGrowth, o / q);
        std::printf("(ours also finds the page, reads the stamp from the book, hashes both files and writes the ledger row)\n");
        return 0;
    });
}
