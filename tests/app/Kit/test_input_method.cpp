// Composing text with the desktop's input method in the kit's text inputs, through Qt's
// input-method events and queries sent to the window as the input method sends them: the text
// being composed is shown but is no part of the value nor of its length, a commit replaces the
// selection and is cut at the limit as typing is, a cancel leaves the text as it was, the focus
// moving on keeps what was composed, and the input method learns where the caret is and is
// switched off where no text is taken.
#include "Kit/LMLengthLimitTextField.h"
#include "Kit/LMLengthLimitTextView.h"
#include "appkit/Event.h"
#include "appkit/Window.h"
#include "kit_support.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QWidget>
#include <gtest/gtest.h>

using namespace kpv;

namespace {

// What the input method sends while the user composes (`preedit`, caret at its end) or commits.
void compose(Window& w, const QString& preedit)
{
    QInputMethodEvent e(preedit, {QInputMethodEvent::Attribute(QInputMethodEvent::Cursor, int(preedit.size()), 1)});
    QCoreApplication::sendEvent(w.widget(), &e);
}
void commit(Window& w, const QString& text, int replaceFrom = 0, int replaceLength = 0)
{
    QInputMethodEvent e;
    e.setCommitString(text, replaceFrom, replaceLength);
    QCoreApplication::sendEvent(w.widget(), &e);
}
QVariant ask(Window& w, Qt::InputMethodQuery q)
{
    QInputMethodQueryEvent e(q);
    QCoreApplication::sendEvent(w.widget(), &e);
    return e.value(q);
}
void press(View& v, unsigned short code, std::uint64_t flags = 0)
{
    v.keyDown(*Event::keyEvent(KeyDown, code, QString(), QString(), nullptr, flags));
}

class Plain : public View {
public:
    using View::View;
    bool acceptsFirstResponder() const override { return true; }
};

TEST(InputMethod, ComposedTextIsMarkedUntilCommittedAndCommitsKeepTheLimit)
{
    Window w(Rect(0, 0, 300, 100), TitledWindowMask);
    auto* field = new LMLengthLimitTextField(Rect(10, 10, 200, 22));
    w.contentView()->addSubview(field);
    field->setAllowedMaxLength(6, false);
    field->insertText("ab");
    ASSERT_TRUE(w.makeFirstResponder(field));
    EXPECT_TRUE(ask(w, Qt::ImEnabled).toBool());
    EXPECT_EQ(ask(w, Qt::ImSurroundingText).toString(), QString("ab"));
    EXPECT_EQ(ask(w, Qt::ImCursorPosition).toInt(), 2);
    const QRectF before = ask(w, Qt::ImCursorRectangle).toRectF();
    // The caret is inside the field, in the window widget's top-down coordinates.
    const double top = w.widget()->height() - 10 - 22;
    EXPECT_GE(before.left(), 10);
    EXPECT_GE(before.top(), top);
    EXPECT_LE(before.bottom(), top + 22);

    // Composing: shown at the caret, which moves on with it, but not yet the field's value.
    compose(w, "nihao");
    EXPECT_EQ(field->stringValue(), QString("ab"));
    EXPECT_EQ(field->editor().markedText(), QString("nihao"));
    EXPECT_GT(ask(w, Qt::ImCursorRectangle).toRectF().left(), before.left());
    compose(w, QString::fromUtf8("你好世界和平")); // longer than the room left: only commits count
    EXPECT_EQ(field->stringValue(), QString("ab"));
    commit(w, QString::fromUtf8("你好世界和平")); // cut where the limit falls, as typing stops there
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好世界"));
    EXPECT_FALSE(field->editor().hasMarkedText());
    EXPECT_EQ(ask(w, Qt::ImCursorPosition).toInt(), 6);

    // Cancelled: the selection and the text stay as they were.
    press(*field, KeyCode::A, CommandKeyMask);
    compose(w, "xin");
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好世界"));
    compose(w, QString());
    EXPECT_FALSE(field->editor().hasMarkedText());
    EXPECT_EQ(field->editor().selectedText(), QString::fromUtf8("ab你好世界"));
    // Committed: it takes the selection's place, and one undo brings the text back.
    compose(w, "xin");
    commit(w, QString::fromUtf8("新"));
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("新"));
    press(*field, KeyCode::Z, CommandKeyMask);
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好世界"));
    // A syllable taken back and recomposed (a range before the caret replaced).
    press(*field, KeyCode::End);
    press(*field, KeyCode::Delete);
    commit(w, QString::fromUtf8("각"), -1, 1);
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好각"));

    // The focus moving on keeps what was being composed.
    auto* other = new Plain(Rect(10, 50, 50, 20));
    w.contentView()->addSubview(other);
    compose(w, "z");
    ASSERT_TRUE(w.makeFirstResponder(other));
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好각z"));
    // A view that takes no text turns the input method off, and what it sends goes nowhere.
    EXPECT_FALSE(ask(w, Qt::ImEnabled).toBool());
    commit(w, "q");
    EXPECT_EQ(field->stringValue(), QString::fromUtf8("ab你好각z"));
}

TEST(InputMethod, MultiLineBoxComposesOnlyWhenEnabled)
{
    Window w(Rect(0, 0, 300, 200), TitledWindowMask);
    auto* box = new LMPlaceholderTextView(Rect(10, 10, 200, 120));
    w.contentView()->addSubview(box);
    box->setPlaceholderString("Say something");
    ASSERT_TRUE(w.makeFirstResponder(box));
    // Not yet enabled: no input method, nothing taken.
    EXPECT_FALSE(ask(w, Qt::ImEnabled).toBool());
    commit(w, "x");
    EXPECT_EQ(box->string(), QString());

    box->awakeFromNib();
    w.makeFirstResponder(nullptr);
    ASSERT_TRUE(w.makeFirstResponder(box));
    EXPECT_TRUE(ask(w, Qt::ImEnabled).toBool());
    EXPECT_TRUE(ask(w, Qt::ImHints).toInt() & Qt::ImhMultiLine);
    compose(w, QString::fromUtf8("にほん"));
    EXPECT_EQ(box->string(), QString());
    commit(w, QString::fromUtf8("日本"));
    box->keyDown(*Event::keyEvent(KeyDown, KeyCode::Return, "\r", "\r", nullptr));
    compose(w, QString::fromUtf8("ご"));
    // A second line: the caret the input method is told of stands lower than the first.
    const QRectF secondLine = ask(w, Qt::ImCursorRectangle).toRectF();
    commit(w, QString::fromUtf8("語"));
    EXPECT_EQ(box->string(), QString::fromUtf8("日本\n語"));
    press(*box, KeyCode::Home, CommandKeyMask);
    EXPECT_LT(ask(w, Qt::ImCursorRectangle).toRectF().top(), secondLine.top());
}

} // namespace
