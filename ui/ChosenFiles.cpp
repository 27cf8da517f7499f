#include "ui/ChosenFiles.h"

ChosenFiles& ChosenFiles::operator=(const QStringList& files) {
    files_ = files;
    if (changed_) {
        changed_(files_);
    }
    return *this;
}

void ChosenFiles::clear() {
    *this = QStringList();
}
