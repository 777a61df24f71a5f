#include "window_menu.h"

#include "floating_window.h"
#include "menu_items.h"

namespace nodrel {

TWindowMenu::TWindowMenu(TFloatingWindow& window) : QMenu(&window) {
    setObjectName(QStringLiteral("PopupMenu1"));
    TFloatingWindow* const w = &window;
    AddMenuItem(this, "N27", QStringLiteral("About KAVREN Nodrel..."), w, [w] { w->ShowAbout(); });
    addSeparator()->setObjectName(QStringLiteral("N26"));
    soundsItem_ = AddMenuItem(this, "N22", QStringLiteral("Sounds"), w, nullptr);
    soundsItem_->setCheckable(true);
    connect(soundsItem_, &QAction::triggered, w, [w](bool marked) { w->SetSoundsMarked(marked); });

    QMenu* blinkMenu = addMenu(QStringLiteral("Blink mode"));
    blinkMenu->menuAction()->setObjectName(QStringLiteral("N8"));
    auto* blinkGroup = new QActionGroup(blinkMenu);
    blinkOffItem_ = AddRadioItem(blinkMenu, blinkGroup, "N9", QStringLiteral("Off"), w,
                                 [w] { w->SetBlinkMode(1); });
    blinkSimpleItem_ = AddRadioItem(blinkMenu, blinkGroup, "N10", QStringLiteral("Simple order"), w,
                                    [w] { w->SetBlinkMode(2); });
    blinkChessItem_ = AddRadioItem(blinkMenu, blinkGroup, "N11", QStringLiteral("Chess order"), w,
                                   [w] { w->SetBlinkMode(3); });

    QMenu* colourMenu = addMenu(QStringLiteral("Colors"));
    colourMenu->menuAction()->setObjectName(QStringLiteral("N13"));
    AddMenuItem(colourMenu, "N14", QStringLiteral("Border"), w, [w] { w->ChooseFrameColour(); });
    AddMenuItem(colourMenu, "N15", QStringLiteral("Background"), w,
                [w] { w->ChooseColour(ColourSlot::Background); });
    colourMenu->addSeparator()->setObjectName(QStringLiteral("N16"));
    AddMenuItem(colourMenu, "N17", QStringLiteral("Unknown / Graph Mode "), w,
                [w] { w->ChooseColour(ColourSlot::NoResult); });
    AddMenuItem(colourMenu, "N18", QStringLiteral("Succesefull Ping"), w,
                [w] { w->ChooseColour(ColourSlot::Success); });
    AddMenuItem(colourMenu, "N19", QStringLiteral("Failed Ping"), w,
                [w] { w->ChooseColour(ColourSlot::Failure); });
    AddMenuItem(colourMenu, "N21", QStringLiteral("Failed Ping (Blink Mode)"), w,
                [w] { w->ChooseColour(ColourSlot::FailureBlink); });

    transparentItem_ = AddMenuItem(this, "N5", QStringLiteral("Transparent"), w, nullptr);
    transparentItem_->setCheckable(true);
    connect(transparentItem_, &QAction::triggered, w, [w](bool marked) {
        w->SetTransparentMarked(marked);
        w->ApplyTransparency();
    });
    addSeparator()->setObjectName(QStringLiteral("N28"));
    SetDefaultItem(
        this, AddMenuItem(this, "N3", QStringLiteral("Switch size"), w, [w] { w->SwitchSize(); }));
    addSeparator()->setObjectName(QStringLiteral("N25"));

    auto* viewGroup = new QActionGroup(this);
    graphViewItem_ = AddRadioItem(this, viewGroup, "N6", QStringLiteral("View Mode: Graph"), w,
                                  [w] { w->SetViewMode(1); });
    historyViewItem_ = AddRadioItem(this, viewGroup, "N7", QStringLiteral("View Mode: History"), w,
                                    [w] { w->SetViewMode(2); });
    addSeparator()->setObjectName(QStringLiteral("N2"));
    AddMenuItem(this, "NHistory", QStringLiteral("History..."), w, [w] { w->ShowHistory(); });
    AddMenuItem(this, "N24", QStringLiteral("Options..."), w, [w] { w->ShowOptions(); });
    AddMenuItem(this, "N12", QStringLiteral("Minimize to SystemTray"), w,
                [w] { w->MinimizeToTray(); });
    addSeparator()->setObjectName(QStringLiteral("N4"));
    AddMenuItem(this, "N1", QStringLiteral("Close KAVREN Nodrel"), w, [w] { w->close(); });

    MarkSounds(window.SoundsMarked());
    MarkTransparent(window.TransparentMarked());
    // Off unless the blink mode is one the menu offers.
    blinkOffItem_->setChecked(true);
    MarkBlinkMode(window.RenderSettings().blinkmode);
    MarkViewMode(window.RenderSettings().viewmode);
}

void TWindowMenu::MarkSounds(bool marked) {
    soundsItem_->setChecked(marked);
}

void TWindowMenu::MarkTransparent(bool marked) {
    transparentItem_->setChecked(marked);
}

void TWindowMenu::MarkViewMode(uint8_t viewMode) {
    (viewMode == 1 ? graphViewItem_ : historyViewItem_)->setChecked(true);
}

void TWindowMenu::MarkBlinkMode(uint8_t blinkMode) {
    if (blinkMode == 1) blinkOffItem_->setChecked(true);
    if (blinkMode == 2) blinkSimpleItem_->setChecked(true);
    if (blinkMode == 3) blinkChessItem_->setChecked(true);
}

}  // namespace nodrel
