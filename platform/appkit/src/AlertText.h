#pragma once
// The texts of an alert drawn so that they wrap: at spaces and after path separators where they
// can, anywhere in a run too long for a line (a long file name, a deep folder). The alert stays
// within its screen however long a word is. The texts the alert reports (text(),
// informativeText()) stay exactly as they were set; only the drawing changes.

#include <QLabel>

class QMessageBox;

namespace kpv {

// Call once the alert's texts are set, before it is shown.
void wrapAlertTexts(QMessageBox* box);

// A label of plain text that wraps the same way, so that a long word never widens its window.
// Its text() is the text as set.
class WrappingLabel final : public QLabel {
public:
    explicit WrappingLabel(QWidget* parent = nullptr);
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace kpv
