#pragma once

// The text viewer "View Selected Headers": the header blocks of selected
// messages, the body of one message, or the reasons report. A new viewer is
// made for every use and shown modally.

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace kelvane {

class TfrmViewHeader : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmViewHeader(QWidget* parent = nullptr);

    // Both cleared when the viewer is made; the title follows them when it
    // is shown.
    bool HeadersMode = false;
    bool ReasonsMode = false;

    // The text, one line each.
    void SetLines(const std::vector<std::string>& lines);
    QString Title() const;

    QLabel* lblTitle;
    QPlainTextEdit* Memo1;
    QPushButton* btOK;

  protected:
    void showEvent(QShowEvent* event) override;
};

enum class ViewerMode { Body, Headers, Reasons };

// Shows lines in a viewer of that mode and waits until it is closed.
void ShowViewer(ViewerMode mode, const std::vector<std::string>& lines, QWidget* parent);

}  // namespace kelvane
