#include "appkit/TextInput.h"

#include "TextInputDispatch.h"
#include "appkit/Application.h"
#include "appkit/View.h"
#include "appkit/Window.h"

#include <QGuiApplication>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace kpv {

namespace {

// The client the input method talks to in `window`: its first responder's, when it has one.
TextInputClient* clientOf(Window* window)
{
    View* responder = window ? window->firstResponder() : nullptr;
    return responder ? responder->textInputClient() : nullptr;
}

// A rectangle of `view` in the Qt coordinates (top-left origin, y down) of its window's widget.
QRectF toWindowWidget(View* view, const Rect& r)
{
    const Rect inWindow = view->convertRectToView(r, nullptr);
    const QWidget* top = view->window() ? view->window()->widget() : nullptr;
    const double height = top ? top->height() : 0;
    return QRectF(inWindow.x(), height - inWindow.y() - inWindow.height(), inWindow.width(), inWindow.height());
}

Qt::InputMethodHints qtHints(unsigned hints)
{
    Qt::InputMethodHints out = Qt::ImhNone;
    if (hints & TextInputClient::HintDigitsOnly)
        out |= Qt::ImhDigitsOnly | Qt::ImhPreferNumbers;
    if (hints & TextInputClient::HintHidden)
        out |= Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase;
    if (hints & TextInputClient::HintMultiLine)
        out |= Qt::ImhMultiLine;
    return out;
}

bool wantsInputMethod(TextInputClient* client)
{
    return client && client->acceptsInputMethod() && !(client->inputMethodHints() & TextInputClient::HintHidden);
}

void answerQuery(Window* window, TextInputClient* client, QInputMethodQueryEvent& query)
{
    View* view = window->firstResponder();
    const Qt::InputMethodQueries asked = query.queries();
    for (int shift = 0; shift < 32; ++shift) {
        const auto q = Qt::InputMethodQuery(1u << shift);
        if (!(asked & q))
            continue;
        switch (q) {
        case Qt::ImEnabled:
            query.setValue(q, wantsInputMethod(client));
            break;
        case Qt::ImHints:
            query.setValue(q, int(qtHints(client->inputMethodHints())));
            break;
        case Qt::ImCursorRectangle:
            query.setValue(q, toWindowWidget(view, client->caretRect()));
            break;
        case Qt::ImInputItemClipRectangle:
            query.setValue(q, toWindowWidget(view, view->visibleRect()));
            break;
        case Qt::ImSurroundingText:
            query.setValue(q, client->surroundingText());
            break;
        case Qt::ImCursorPosition:
            query.setValue(q, int(client->cursorPosition()));
            break;
        case Qt::ImAnchorPosition:
            query.setValue(q, int(client->anchorPosition()));
            break;
        case Qt::ImAbsolutePosition:
            query.setValue(q, int(client->cursorPosition()));
            break;
        case Qt::ImCurrentSelection: {
            const qint64 a = client->anchorPosition(), c = client->cursorPosition();
            query.setValue(q, client->surroundingText().mid(std::min(a, c), std::abs(a - c)));
            break;
        }
        case Qt::ImTextBeforeCursor:
            query.setValue(q, client->surroundingText().left(client->cursorPosition()));
            break;
        case Qt::ImTextAfterCursor:
            query.setValue(q, client->surroundingText().mid(client->cursorPosition()));
            break;
        default:
            break;
        }
    }
}

void applyInputMethodEvent(TextInputClient* client, const QInputMethodEvent& event)
{
    if (!event.commitString().isEmpty() || event.replacementLength() != 0)
        client->insertText(event.commitString(), event.replacementStart(), event.replacementLength());
    const QString preedit = event.preeditString();
    qint64 caret = preedit.size();
    for (const QInputMethodEvent::Attribute& a : event.attributes()) {
        if (a.type == QInputMethodEvent::Cursor)
            caret = std::clamp<qint64>(a.start, 0, preedit.size());
    }
    // An event with neither preedit nor commit ends the composition (the input method cancelled
    // it, or a commit just took its place).
    if (!preedit.isEmpty() || client->hasMarkedText())
        client->setMarkedText(preedit, caret);
}

} // namespace

void updateInputMethod(View* view)
{
    Window* window = view ? view->window() : nullptr;
    if (!window || window->firstResponder() != view || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    if (QGuiApplication::focusObject() == window->widget())
        QGuiApplication::inputMethod()->update(Qt::ImQueryInput | Qt::ImEnabled | Qt::ImHints | Qt::ImInputItemClipRectangle);
}

void commitInputMethod()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::inputMethod()->commit();
}

bool handleInputMethodEvent(Window* window, QEvent* event)
{
    TextInputClient* client = clientOf(window);
    if (event->type() == QEvent::InputMethodQuery) {
        if (!client)
            return false; // the widget's own answer: no input method here
        answerQuery(window, client, *static_cast<QInputMethodQueryEvent*>(event));
        return true;
    }
    if (event->type() == QEvent::InputMethod) {
        if (!wantsInputMethod(client))
            return false;
        applyInputMethodEvent(client, *static_cast<QInputMethodEvent*>(event));
        updateInputMethod(window->firstResponder());
        return true;
    }
    return false;
}

void firstResponderChanged(Window* window)
{
    // The window's widget keeps Qt's focus while the responder inside it changes: the input
    // method learns of the change only when told, and is switched off for views that take no text.
    if (!window || !window->widget() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return;
    window->widget()->setAttribute(Qt::WA_InputMethodEnabled, wantsInputMethod(clientOf(window)));
    if (QGuiApplication::focusObject() == window->widget())
        QGuiApplication::inputMethod()->update(Qt::ImQueryAll);
}

} // namespace kpv
