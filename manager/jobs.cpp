#include "manager/jobs.h"

#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>
#include <memory>
#include <mutex>
#include <new>

#include "os/error.h"

namespace {

class Control : public JobControl {
public:
    void Progress(long long done, long long total) override {
        std::lock_guard lock(mutex_);
        done_ = done;
        total_ = total;
    }
    bool Cancelled() const override { return cancelled_; }
    void Cancel() { cancelled_ = true; }
    std::pair<long long, long long> Where() {
        std::lock_guard lock(mutex_);
        return {done_, total_};
    }

private:
    std::atomic<bool> cancelled_{false};
    std::mutex mutex_;
    long long done_ = 0, total_ = 0;
};

}  // namespace

void RunJob(QWidget* parent, const QString& label, bool cancellable, std::function<void(JobControl&)> work,
            std::function<void(const std::string&)> finished, Holds holds) {
    auto control = std::make_shared<Control>();
    auto failure = std::make_shared<std::string>();
    QThread* thread = QThread::create([control, failure, work = std::move(work)] {
        try {
            work(*control);
        } catch (const Error& e) {
            *failure = e.what();
        } catch (const std::bad_alloc&) {
            *failure = "메모리가 부족해 작업을 끝내지 못했습니다. 다른 프로그램을 닫고 다시 하십시오.";
        } catch (const std::exception& e) {
            *failure = std::string("작업을 끝내지 못했습니다 — ") + e.what();
        }
    });
    // The thread is the parent's child, so that the parent can wait for it
    // before it goes (ManagerWindow does): a process must not end while one
    // of its threads is inside the engine or the C library.
    thread->setParent(parent);
    // The progress box is made only when the work outlasts half a second:
    // most work ends sooner, and the box costs a widget.
    auto box = std::make_shared<QPointer<QProgressDialog>>();
    auto* timer = new QTimer(thread);
    QObject::connect(timer, &QTimer::timeout, parent, [control, box, parent, label, cancellable, holds] {
        if (!*box) {
            auto* dialog = new QProgressDialog(label, cancellable ? "취소" : QString(), 0, 0, parent);
            dialog->setWindowTitle("도장 관리");
            dialog->setWindowModality(holds == Holds::Window ? Qt::WindowModal : Qt::NonModal);
            dialog->setMinimumDuration(0);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->setAccessibleName(label);
            if (!cancellable) dialog->setCancelButton(nullptr);
            QObject::connect(dialog, &QProgressDialog::canceled, dialog, [control, dialog] {
                control->Cancel();
                dialog->setLabelText("취소하는 중…");
            });
            *box = dialog;
            dialog->show();
        }
        const auto [done, total] = control->Where();
        if (total > 0) {
            (*box)->setMaximum(1000);
            (*box)->setValue(static_cast<int>(done * 1000 / total));
        }
    });
    QTimer::singleShot(500, timer, [timer] { timer->start(100); });
    QObject::connect(thread, &QThread::finished, parent, [thread, box, failure, finished = std::move(finished)] {
        thread->deleteLater();
        if (*box) (*box)->deleteLater();
        if (finished) finished(*failure);
    });
    thread->start();
}

std::string RunAndWait(QWidget* parent, const QString& label, std::function<void(JobControl&)> work) {
    QEventLoop loop;
    std::string result;
    RunJob(parent, label, false, std::move(work), [&](const std::string& failure) {
        result = failure;
        loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return result;
}
