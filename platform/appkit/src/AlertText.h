#pragma once
// The texts of an alert drawn so that they wrap: at spaces and after path separators where they
// can, anywhere in a run too long for a line (a long file name, a deep folder). The alert stays
// within its screen however long a word is. The texts the alert reports (text(),
// informativeText()) stay exactly as they were set; only the drawing changes.

class QMessageBox;

namespace kpv {

// Call once the alert's texts are set, before it is shown.
void wrapAlertTexts(QMessageBox* box);

} // namespace kpv
