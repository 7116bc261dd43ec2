#include "settings/gui/import.h"

namespace kelvane {

TfrmImportSpam::TfrmImportSpam(QWidget* parent) : QDialog(parent) {
    setObjectName("TfrmImportSpam");
    setWindowTitle("Import");
}

}  // namespace kelvane
