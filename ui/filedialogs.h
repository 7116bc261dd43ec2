#pragma once

// The file dialogs of every window through one replaceable function, so the
// tests answer them as they answer message boxes.

#include <QString>
#include <functional>
#include <optional>

class QWidget;

namespace kelvane::ui {

struct FileRequest {
    bool save = false;  // a save dialog, else an open dialog
    QString title;
    QString start;   // the path the dialog starts at
    QString filter;  // "Text files (*.txt);;All files (*)"
    QString defaultSuffix;
    bool folder = false;  // choose an existing folder instead of a file
};

// The chosen file (or folder), or nothing when the user cancelled.
using FilePicker = std::function<std::optional<QString>(QWidget* parent, const FileRequest&)>;

// Replaces the file dialogs (an empty picker restores QFileDialog).
void SetFilePicker(FilePicker picker);
std::optional<QString> PickFile(QWidget* parent, const FileRequest& request);

}  // namespace kelvane::ui
