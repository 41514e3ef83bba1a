#include "app/ui/background_run.h"

#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {

// Work that ends within this time shows no dialog: a flash of a window would
// only distract.
constexpr int kQuietMs = 400;
constexpr int kRefreshMs = 50;

// Escape and the window's close button ask for a cancel; the dialog itself stays
// until the job has stopped, so the user sees the cancel being honoured rather
// than a window that vanished while the work goes on.
class CProgressDialog : public QDialog {
public:
    using QDialog::QDialog;
    std::function<void()> onCancel;
    void reject() override {
        if (onCancel) onCancel();
    }
};

} // namespace

std::function<void(const CBackgroundRun&)>& CBackgroundRun::BeforeStepHookForTesting() {
    static std::function<void(const CBackgroundRun&)> hook;
    return hook;
}

bool CBackgroundRun::Step(int done, int total) {
    m_total.store(total);
    m_done.store(done);
    if (auto& hook = BeforeStepHookForTesting()) hook(*this);
    return m_state.load() != Cancelled_;
}

bool CBackgroundRun::BeginCommit() {
    int expected = Running_;
    return m_state.compare_exchange_strong(expected, Committing_);
}

bool CBackgroundRun::RequestCancel() {
    int expected = Running_;
    return m_state.compare_exchange_strong(expected, Cancelled_) || expected == Cancelled_;
}

bool RunInBackground(QWidget* parent, const QString& title,
                     const std::function<bool(CBackgroundRun&)>& job, bool* cancelled) {
    CBackgroundRun run;
    bool result = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { result = job(run); }));
    worker->start();

    // Most runs end before anyone would notice the wait.
    if (!worker->wait(QDeadlineTimer(kQuietMs))) {
        CProgressDialog dialog(parent);
        dialog.setWindowTitle(title);
        dialog.setWindowModality(Qt::WindowModal);
        auto* label = new QLabel("Processing the picture at full size...");
        auto* bar = new QProgressBar;
        bar->setRange(0, 0); // moving until the first step is known
        auto* cancel = new QPushButton("Cancel");
        auto* layout = new QVBoxLayout(&dialog);
        layout->addWidget(label);
        layout->addWidget(bar);
        layout->addWidget(cancel, 0, Qt::AlignRight);
        dialog.setMinimumWidth(360);

        auto requestCancel = [&] {
            if (run.RequestCancel()) {
                label->setText("Cancelling...");
                cancel->setEnabled(false);
            }
        };
        QObject::connect(cancel, &QPushButton::clicked, &dialog, requestCancel);
        dialog.onCancel = requestCancel;

        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, &dialog, [&] {
            if (run.Committing()) {
                label->setText("Saving...");
                cancel->setEnabled(false);
                bar->setRange(0, 0);
            } else if (!run.Cancelled() && run.Total() > 0) {
                bar->setRange(0, run.Total());
                bar->setValue(run.Done());
            }
        });
        refresh.start(kRefreshMs);

        QEventLoop loop;
        QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
        dialog.show();
        // The job may have ended while the dialog was being made.
        if (!worker->isFinished()) loop.exec();
        refresh.stop();
        dialog.hide();
    }
    worker->wait();
    if (cancelled) *cancelled = run.Cancelled();
    return result && !run.Cancelled();
}
