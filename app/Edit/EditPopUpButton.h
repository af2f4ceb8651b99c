#pragma once

// A pop-up button: shows the chosen item's title and, when pressed, a menu of all the items with
// the chosen one ticked. Choosing an item selects it and sends the button's action.

#include "appkit/Control.h"

#include <QList>
#include <QString>
#include <QVariant>

class EditPopUpButton final : public kpv::Button {
public:
    struct Item {
        QString title;
        QVariant value;  // an invalid value marks a separator
    };

    explicit EditPopUpButton(const kpv::Rect &frame = kpv::Rect());

    void setItems(const QList<Item> &items);
    const QList<Item> &items() const { return m_items; }
    int indexOfSelectedItem() const { return m_selected; }
    QVariant selectedValue() const;
    // Selects the first item with this value (none when no item has it); sends no action.
    void selectItemWithValue(const QVariant &value);
    void selectItemAtIndex(int index);
    // Chooses an item as a click in the menu would: selects it and sends the action.
    void chooseItemAtIndex(int index);

    void mouseDown(const kpv::Event &e) override;
    void drawRect(const kpv::Rect &dirty) override;
    // With the keyboard focus, Space and the Up and Down arrows show the menu. Return and Enter
    // are left to the dialog, whose default button they press, as they do on a check box.
    bool performKeyAction(const kpv::Event &e) override;
    void performClick() override;

private:
    QList<Item> m_items;
    int m_selected = -1;
};
