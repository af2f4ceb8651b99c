#include "Kit/LMListView.h"

#include "appkit/Color.h"
#include "appkit/GraphicsContext.h"

#include <algorithm>
#include <utility>

LMListView::LMListView(const kpv::Rect& frame, QString emptyText) : kpv::View(frame), m_emptyText(std::move(emptyText)) {}

void LMListView::setEmptyText(const QString& text)
{
    if (text == m_emptyText)
        return;
    m_emptyText = text;
    setNeedsDisplay();
}

bool LMListView::isShowingEmptyText() const
{
    if (m_emptyText.isEmpty())
        return false;
    const auto& rows = subviews();
    return std::none_of(rows.begin(), rows.end(), [](const kpv::View* row) { return !row->isHidden(); });
}

void LMListView::drawRect(const kpv::Rect&)
{
    kpv::GraphicsContext* gc = kpv::GraphicsContext::current();
    if (!gc || !isShowingEmptyText())
        return;
    // Wrapped within the list, a margin at each side, in the grey of the dialogs' secondary text.
    const double margin = std::min(24.0, bounds().width() / 8);
    gc->drawTextInRect(m_emptyText, kpv::Rect(margin, 0, bounds().width() - 2 * margin, bounds().height()),
                       kpv::Font::systemFontOfSize(13), kpv::Color(0.7, 0.7, 0.7),
                       Qt::AlignCenter | Qt::TextWordWrap);
}
