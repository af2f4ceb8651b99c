#pragma once
// A list of rows laid out by its owner (the accounts window's sign-ins). Holding no shown row, it
// says so in a line of its own, centred, instead of standing as an empty box.

#include "appkit/View.h"

#include <QString>

class LMListView : public kpv::View {
public:
    explicit LMListView(const kpv::Rect& frame = kpv::Rect(), QString emptyText = QString());

    const QString& emptyText() const { return m_emptyText; }
    void setEmptyText(const QString& text);
    // True while the list shows its empty text: it has a text and no row that is shown.
    bool isShowingEmptyText() const;

    void drawRect(const kpv::Rect& dirty) override;
    bool drawsOwnContent() const override { return isShowingEmptyText(); }

private:
    QString m_emptyText;
};
