#pragma once

#include <QLabel>
#include <QString>

class QResizeEvent;

// Panel 1 of StatusBar1, which carries every status text. It spans the status bar; a text
// wider than the panel is shown elided in the middle (its start and its end stay readable:
// the command and the folder, the file and its speed) and whole in the tooltip. Screen
// readers hear it as "Status", with the whole text as its description.
class StatusPanel final : public QLabel {
    Q_OBJECT

public:
    explicit StatusPanel(QWidget* parent = nullptr);

    void SetWholeText(const QString& text);
    // The text as it was set, whether or not the panel shows it whole.
    [[nodiscard]] const QString& WholeText() const { return whole_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Shows the whole text when it fits, else its elided form with the whole in the tooltip.
    void Fit();

    QString whole_;
};
