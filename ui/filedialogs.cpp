#include "ui/filedialogs.h"

#include <QFileDialog>

namespace kelvane::ui {

namespace {

FilePicker& Picker() {
    static FilePicker picker;
    return picker;
}

std::optional<QString> QtPick(QWidget* parent, const FileRequest& r) {
    QFileDialog dialog(parent, r.title, r.start, r.filter);
    if (r.folder) {
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
    } else {
        dialog.setAcceptMode(r.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(r.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    }
    if (!r.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(r.defaultSuffix);
    if (!r.start.isEmpty() && !r.folder) dialog.selectFile(r.start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
}

}  // namespace

void SetFilePicker(FilePicker picker) {
    Picker() = std::move(picker);
}

std::optional<QString> PickFile(QWidget* parent, const FileRequest& request) {
    if (Picker()) return Picker()(parent, request);
    return QtPick(parent, request);
}

}  // namespace kelvane::ui
