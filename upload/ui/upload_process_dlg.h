#pragma once
// "Uploading": runs one upload on a worker thread and shows its progress. The
// worker is polled every 500 ms; the dialog closes with OK once it has finished.
// Cancel asks the worker to stop, which it does at its next wait (closing the
// connection), and closes the dialog with Cancel.

#include "upload/upload_sender.h"

#include <QDialog>

#include <atomic>
#include <memory>

class QLabel;
class QProgressBar;
class QTimer;

class CUploadProcessDlg : public QDialog, public CUploadProgressManager {
    Q_OBJECT
public:
    CUploadProcessDlg(UploadRequest request, UploadServer server, UploadOptions options,
                      QWidget* parent = nullptr);
    ~CUploadProcessDlg() override;

    // CUploadProgressManager, called on the worker thread.
    void SetProgress(int percent) override;
    void Finished() override {}
    bool GoOn() override { return !m_stop.load(); }

    bool Cancelled() const { return m_cancelled; }
    // The worker's result; meaningful once the dialog has closed with OK.
    const UploadOutcome& Outcome() const { return m_job->Outcome(); }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void Poll();

    std::unique_ptr<CUploadJob> m_job;
    std::atomic<bool> m_stop{false};
    bool m_cancelled = false;
    bool m_started = false;
    QProgressBar* m_bar = nullptr;
    QLabel* m_percent = nullptr;
    QTimer* m_timer = nullptr;
};
