#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <utility>

// The files chosen by "Open file(s) to decode..." (or dropped onto the Decode page, or
// named on the program's command line). The choice changes only by assignment or clear,
// and each change is told, so that the Decode page always names the files it holds; the
// files themselves are read through the const members.
class ChosenFiles {
public:
    explicit ChosenFiles(std::function<void(const QStringList&)> changed)
        : changed_(std::move(changed)) {}

    ChosenFiles& operator=(const QStringList& files);
    void clear();

    [[nodiscard]] bool isEmpty() const { return files_.isEmpty(); }
    [[nodiscard]] qsizetype size() const { return files_.size(); }
    [[nodiscard]] const QString& first() const { return files_.first(); }
    [[nodiscard]] const QString& operator[](qsizetype i) const { return files_[i]; }
    [[nodiscard]] QStringList::const_iterator begin() const { return files_.cbegin(); }
    [[nodiscard]] QStringList::const_iterator end() const { return files_.cend(); }
    // Read where a list of files is wanted (the files dialog is filled from it).
    operator const QStringList&() const { return files_; }

private:
    QStringList files_;
    std::function<void(const QStringList&)> changed_;
};
