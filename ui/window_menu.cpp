// The floating window's context menu: its commands, in the order users know, made at its first
// showing with the check marks of the window's state.
#include <QCoreApplication>
#include <cstdio>

#include "autostart_entry.h"
#include "floating_window.h"
#include "menu_items.h"
#include "notifier.h"
#include "tray_images.h"

namespace nodrel {

namespace {

platform::AutostartEntry StartAtLogin() {
    return platform::AutostartEntry(QString::fromLatin1(kApplicationId),
                                    QCoreApplication::applicationFilePath());
}

}  // namespace

QMenu& TFloatingWindow::WindowMenu() {
    if (windowMenu_ == nullptr) CreateWindowMenu();
    return *windowMenu_;
}

void TFloatingWindow::CreateWindowMenu() {
    windowMenu_ = new QMenu(this);
    windowMenu_->setObjectName(QStringLiteral("PopupMenu1"));
    QMenu* menu = windowMenu_;
    AddMenuItem(menu, "N27", QStringLiteral("About KAVREN Nodrel..."), this,
                [this] { ShowAbout(); });
    menu->addSeparator()->setObjectName(QStringLiteral("N26"));
    soundsItem_ = AddMenuItem(menu, "N22", QStringLiteral("Sounds"), this,
                              [this] { soundsMarked_ = soundsItem_->isChecked(); });
    soundsItem_->setCheckable(true);
    soundsItem_->setChecked(soundsMarked_);
    notifyItem_ = AddMenuItem(menu, "N29", QStringLiteral("Notifications"), this,
                              [this] { notifyMarked_ = notifyItem_->isChecked(); });
    notifyItem_->setCheckable(true);
    notifyItem_->setChecked(notifyMarked_);
    startAtLoginItem_ = AddMenuItem(menu, "N30", QStringLiteral("Start at login"), this,
                                    [this] { SetStartAtLogin(startAtLoginItem_->isChecked()); });
    startAtLoginItem_->setCheckable(true);
    // The entry's presence is the mark: the user may change the folder by hand.
    connect(menu, &QMenu::aboutToShow, this,
            [this] { startAtLoginItem_->setChecked(StartAtLogin().Present()); });

    QMenu* blinkMenu = menu->addMenu(QStringLiteral("Blink mode"));
    blinkMenu->menuAction()->setObjectName(QStringLiteral("N8"));
    auto* blinkGroup = new QActionGroup(blinkMenu);
    blinkOffItem_ = AddRadioItem(blinkMenu, blinkGroup, "N9", QStringLiteral("Off"), this,
                                 [this] { SetBlinkMode(1); });
    blinkSimpleItem_ = AddRadioItem(blinkMenu, blinkGroup, "N10", QStringLiteral("Simple order"),
                                    this, [this] { SetBlinkMode(2); });
    blinkChessItem_ = AddRadioItem(blinkMenu, blinkGroup, "N11", QStringLiteral("Chess order"),
                                   this, [this] { SetBlinkMode(3); });
    // Off unless the blink mode is one the menu offers.
    blinkOffItem_->setChecked(true);
    MarkBlinkModeItem(render_.blinkmode);

    QMenu* colourMenu = menu->addMenu(QStringLiteral("Colors"));
    colourMenu->menuAction()->setObjectName(QStringLiteral("N13"));
    AddMenuItem(colourMenu, "N14", QStringLiteral("Border"), this, [this] { ChooseFrameColour(); });
    AddMenuItem(colourMenu, "N15", QStringLiteral("Background"), this,
                [this] { ChooseColour(ColourSlot::Background); });
    colourMenu->addSeparator()->setObjectName(QStringLiteral("N16"));
    AddMenuItem(colourMenu, "N17", QStringLiteral("Unknown / Graph Mode "), this,
                [this] { ChooseColour(ColourSlot::NoResult); });
    AddMenuItem(colourMenu, "N18", QStringLiteral("Succesefull Ping"), this,
                [this] { ChooseColour(ColourSlot::Success); });
    AddMenuItem(colourMenu, "N19", QStringLiteral("Failed Ping"), this,
                [this] { ChooseColour(ColourSlot::Failure); });
    AddMenuItem(colourMenu, "N21", QStringLiteral("Failed Ping (Blink Mode)"), this,
                [this] { ChooseColour(ColourSlot::FailureBlink); });

    transparentItem_ = AddMenuItem(menu, "N5", QStringLiteral("Transparent"), this, [this] {
        transparentMarked_ = transparentItem_->isChecked();
        ApplyTransparency();
    });
    transparentItem_->setCheckable(true);
    transparentItem_->setChecked(transparentMarked_);
    menu->addSeparator()->setObjectName(QStringLiteral("N28"));
    SetDefaultItem(menu, AddMenuItem(menu, "N3", QStringLiteral("Switch size"), this,
                                     [this] { SwitchSize(); }));
    menu->addSeparator()->setObjectName(QStringLiteral("N25"));

    auto* viewGroup = new QActionGroup(menu);
    graphViewItem_ = AddRadioItem(menu, viewGroup, "N6", QStringLiteral("View Mode: Graph"), this,
                                  [this] { SetViewMode(1); });
    historyViewItem_ = AddRadioItem(menu, viewGroup, "N7", QStringLiteral("View Mode: History"),
                                    this, [this] { SetViewMode(2); });
    MarkViewModeItem(render_.viewmode);
    menu->addSeparator()->setObjectName(QStringLiteral("N2"));
    AddMenuItem(menu, "N24", QStringLiteral("Options..."), this, [this] { ShowOptions(); });
    AddMenuItem(menu, "N12", QStringLiteral("Minimize to SystemTray"), this,
                [this] { MinimizeToTray(); });
    menu->addSeparator()->setObjectName(QStringLiteral("N4"));
    AddMenuItem(menu, "N1", QStringLiteral("Close KAVREN Nodrel"), this, [this] { close(); });
}

void TFloatingWindow::SetStartAtLogin(bool start) {
    const platform::AutostartEntry entry = StartAtLogin();
    const std::optional<QString> failure = start ? entry.Write() : entry.Remove();
    if (!failure) return;
    std::fprintf(stderr, "KAVREN Nodrel: %s not %s: %s\n", qPrintable(entry.Path()),
                 start ? "written" : "removed", qPrintable(*failure));
    Notifier().Tell(
        QStringLiteral("start-at-login"),
        {start ? QStringLiteral("Not started at login") : QStringLiteral("Still started at login"),
         QStringLiteral("%1\n%2").arg(*failure, entry.Path()), true});
}

}  // namespace nodrel
