#include "Slideshow/SlideshowViewHost.h"

#include "appkit/Panels.h"
#include "appkit/View.h"
#include "foundation/Bundle.h"

void SlideshowViewHost::reportProblem(const QString& message)
{
    kpv::View* content = contentView();
    const QString title = kpv::Bundle::mainBundle().localizedString(QStringLiteral("IDS_SS_CANNOT_SHOW"));
    kpv::AlertSheet::begin(title, QString(), QString(), QString(), content ? content->window() : nullptr, {}, message);
}
