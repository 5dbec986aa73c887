#pragma once
// Long work off the interface thread: a thread of its own, a progress bar
// that shows only after half a second, a cancel button where the work can
// stop, and the result handed back on the interface thread.
#include <QString>
#include <atomic>
#include <functional>
#include <string>

class QWidget;

class JobControl {
public:
    // `done` of `total` steps; 0 of 0 for work that cannot say how far it is.
    virtual void Progress(long long done, long long total) = 0;
    virtual bool Cancelled() const = 0;
    virtual ~JobControl() = default;
};

// What the progress box holds while work runs: a change holds the window
// (nothing else may start meanwhile); a read holds nothing, so the clerk may
// go on, or close the window.
enum class Holds { Window, Nothing };

// Runs `work` on its own thread and then `finished` on the interface thread
// with the Error's words when `work` raised one (empty on success). The
// window stays responsive meanwhile; `parent` gets a progress box labelled
// `label` after half a second, modal when `holds` is Holds::Window.
// `cancellable` shows a cancel button. Returns at once; the work holds no
// reference to `parent`. The thread is a child of `parent`, which must wait
// for its threads (QObject::findChildren<QThread*>) before it is destroyed.
void RunJob(QWidget* parent, const QString& label, bool cancellable, std::function<void(JobControl&)> work,
            std::function<void(const std::string& failure)> finished, Holds holds = Holds::Window);

// Runs `work` the same way and waits for it, the interface still painting;
// returns the Error's words or empty. For short work whose result the next
// step needs at once.
std::string RunAndWait(QWidget* parent, const QString& label, std::function<void(JobControl&)> work);
