#pragma once
// Long work off the user-interface thread: a full-size run of the treatment and
// what follows it (saving, printing) runs on a worker thread, while the window
// shows how far it is and lets the user cancel. Short work shows nothing.

#include <QString>

#include <atomic>
#include <functional>

class QWidget;

// What the job on the worker thread reports to, and asks of, the window.
class CBackgroundRun {
public:
    // Before each step: steps done and steps in all. False once the user has
    // cancelled: the job stops there.
    bool Step(int done, int total);
    // From here on the job writes its result and can no longer be cancelled
    // (a file half replaced is worse than a late cancel). False when the user
    // cancelled before: the job must write nothing.
    bool BeginCommit();
    bool Cancelled() const { return m_state.load() == Cancelled_; }

    // User-interface side.
    bool RequestCancel(); // false once the job is committing
    int Done() const { return m_done.load(); }
    int Total() const { return m_total.load(); }
    bool Committing() const { return m_state.load() == Committing_; }

    // Tests only: called on the worker thread before every step, so that a test
    // can hold the job at a known point.
    static std::function<void(const CBackgroundRun&)>& BeforeStepHookForTesting();

private:
    enum State { Running_, Cancelled_, Committing_ };
    std::atomic<int> m_state{Running_};
    std::atomic<int> m_done{0};
    std::atomic<int> m_total{0};
};

// Runs `job` on a worker thread and returns its result once it has ended. When
// the job takes longer than a moment, a window-modal progress dialog titled
// `title` shows the steps done and a "Cancel" button. *cancelled (when given)
// tells whether the user cancelled.
bool RunInBackground(QWidget* parent, const QString& title,
                     const std::function<bool(CBackgroundRun&)>& job, bool* cancelled = nullptr);
