#pragma once

#include <QLabel>
#include <QString>

class QResizeEvent;

// A one-line label for a text that may be wider than the label: the status panel of
// StatusBar1, the files chosen on the Decode page. A text that fits is shown whole; a wider
// one is elided in the middle (its start and its end stay readable: the command and the
// folder, the file and its speed) and shown whole in the tooltip. Screen readers hear the
// label by its own name, with the whole text as its description.
class ElidedLabel final : public QLabel {
    Q_OBJECT

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // The name screen readers say, and the description while the label shows nothing.
    void Name(const QString& name, const QString& idleDescription);
    void SetWholeText(const QString& text);
    // The text as it was set, whether or not the label shows it whole.
    [[nodiscard]] const QString& WholeText() const { return whole_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows the whole text when it fits, else its elided form with the whole in the tooltip.
    void Fit();

    QString whole_;
};
