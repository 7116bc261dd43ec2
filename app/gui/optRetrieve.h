#pragma once

// The progress window "Retrieving ..." of a check run: shown and hidden,
// never modal, so the main window and Cancel stay live.

#include <QDialog>
#include <QTimer>
#include <functional>
#include <string>

class QLabel;
class QPushButton;

namespace kelvane {

// The small looping animation: an envelope flying into the tray, 10 frames
// of 300 ms.
class TMailAnimation : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kFrames = 10;
    static constexpr int kFrameMs = 300;

    explicit TMailAnimation(QWidget* parent = nullptr);
    void Start();
    void Stop();
    bool Running() const { return timer_.isActive(); }
    int Frame() const { return frame_; }
    QSize sizeHint() const override { return {160, 48}; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QTimer timer_;
    int frame_ = 0;
};

class TfrmRetrieving : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmRetrieving(QWidget* parent = nullptr);

    // The mailbox the title names at the next showing.
    void SetAccount(const std::string& userName, const std::string& server);
    // "Click to cancel" calls this.
    std::function<void()> OnCancelClick;

    QLabel* lblTitle;
    QLabel* lblMsg;
    TMailAnimation* anMail;
    QPushButton* btCancel;

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void reject() override;

  private:
    void FormShow();
    void btCancelClick();

    std::string userName_;
    std::string server_;
};

}  // namespace kelvane
