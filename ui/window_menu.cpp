#include "window_menu.h"

#include <QCoreApplication>
#include <cstdio>

#include "autostart_entry.h"
#include "menu_items.h"
#include "notifier.h"
#include "program_icon.h"
#include "window_commands.h"

namespace nodrel {

namespace {

platform::AutostartEntry StartAtLogin() {
    return platform::AutostartEntry(QString::fromLatin1(kApplicationId),
                                    QCoreApplication::applicationFilePath());
}

}  // namespace

TWindowMenu::TWindowMenu(QWidget& window, TWindowCommands& commands)
    : QMenu(&window), commands_(commands) {
    setObjectName(QStringLiteral("PopupMenu1"));
    TWindowCommands* const w = &commands;  // the window, as its menu sees it
    AddMenuItem(this, "N27", QStringLiteral("About KAVREN Nodrel..."), this,
                [w] { w->ShowAbout(); });
    addSeparator()->setObjectName(QStringLiteral("N26"));
    soundsItem_ = AddMenuItem(this, "N22", QStringLiteral("Sounds"), this, nullptr);
    soundsItem_->setCheckable(true);
    connect(soundsItem_, &QAction::triggered, this, [w](bool on) { w->SetSounds(on); });
    notifyItem_ = AddMenuItem(this, "N29", QStringLiteral("Notifications"), this, nullptr);
    notifyItem_->setCheckable(true);
    connect(notifyItem_, &QAction::triggered, this, [w](bool on) { w->SetNotifications(on); });
    startAtLoginItem_ = AddMenuItem(this, "N30", QStringLiteral("Start at login"), this, nullptr);
    startAtLoginItem_->setCheckable(true);
    connect(startAtLoginItem_, &QAction::triggered, this, &TWindowMenu::SetStartAtLogin);
    // The entry's presence is the mark: the user may change the folder by hand.
    connect(this, &QMenu::aboutToShow, this,
            [this] { startAtLoginItem_->setChecked(StartAtLogin().Present()); });

    QMenu* blinkMenu = addMenu(QStringLiteral("Blink mode"));
    blinkMenu->menuAction()->setObjectName(QStringLiteral("N8"));
    auto* blinkGroup = new QActionGroup(blinkMenu);
    blinkOffItem_ = AddRadioItem(blinkMenu, blinkGroup, "N9", QStringLiteral("Off"), this,
                                 [w] { w->SetBlinkMode(1); });
    blinkSimpleItem_ = AddRadioItem(blinkMenu, blinkGroup, "N10", QStringLiteral("Simple order"),
                                    this, [w] { w->SetBlinkMode(2); });
    blinkChessItem_ = AddRadioItem(blinkMenu, blinkGroup, "N11", QStringLiteral("Chess order"),
                                   this, [w] { w->SetBlinkMode(3); });

    QMenu* colourMenu = addMenu(QStringLiteral("Colors"));
    colourMenu->menuAction()->setObjectName(QStringLiteral("N13"));
    // Each names what it colours in the colour dialog's title.
    const auto addColourItem = [&](const char* name, const QString& caption,
                                   std::function<void(const QString&)> choose) {
        AddMenuItem(colourMenu, name, caption, this,
                    [choose, what = caption.trimmed()] { choose(what); });
    };
    addColourItem("N14", QStringLiteral("Border"),
                  [w](const QString& what) { w->ChooseFrameColour(what); });
    addColourItem("N15", QStringLiteral("Background"),
                  [w](const QString& what) { w->ChooseColour(ColourSlot::Background, what); });
    colourMenu->addSeparator()->setObjectName(QStringLiteral("N16"));
    addColourItem("N17", QStringLiteral("Unknown / Graph Mode "),
                  [w](const QString& what) { w->ChooseColour(ColourSlot::NoResult, what); });
    addColourItem("N18", QStringLiteral("Succesefull Ping"),
                  [w](const QString& what) { w->ChooseColour(ColourSlot::Success, what); });
    addColourItem("N19", QStringLiteral("Failed Ping"),
                  [w](const QString& what) { w->ChooseColour(ColourSlot::Failure, what); });
    addColourItem("N21", QStringLiteral("Failed Ping (Blink Mode)"),
                  [w](const QString& what) { w->ChooseColour(ColourSlot::FailureBlink, what); });

    transparentItem_ = AddMenuItem(this, "N5", QStringLiteral("Transparent"), this, nullptr);
    transparentItem_->setCheckable(true);
    connect(transparentItem_, &QAction::triggered, this, [w](bool on) { w->SetTransparent(on); });
    addSeparator()->setObjectName(QStringLiteral("N28"));
    SetDefaultItem(this, AddMenuItem(this, "N3", QStringLiteral("Switch size"), this,
                                     [w] { w->SwitchSize(); }));
    addSeparator()->setObjectName(QStringLiteral("N25"));

    auto* viewGroup = new QActionGroup(this);
    graphViewItem_ = AddRadioItem(this, viewGroup, "N6", QStringLiteral("View Mode: Graph"), this,
                                  [w] { w->SetViewMode(1); });
    historyViewItem_ = AddRadioItem(this, viewGroup, "N7", QStringLiteral("View Mode: History"),
                                    this, [w] { w->SetViewMode(2); });
    addSeparator()->setObjectName(QStringLiteral("N2"));
    AddMenuItem(this, "NJournal", QStringLiteral("Journal..."), this, [w] { w->ShowJournal(); });
    AddMenuItem(this, "N24", QStringLiteral("Options..."), this, [w] { w->ShowOptions(); });
    QAction* minimizeItem = AddMenuItem(this, "N12", QStringLiteral("Minimize to SystemTray"), this,
                                        [w] { w->MinimizeToTray(); });
    // Without a notification area nothing could bring the window back: the item says so by
    // being off, at each opening, as the area comes and goes.
    connect(this, &QMenu::aboutToShow, this,
            [w, minimizeItem] { minimizeItem->setEnabled(w->TrayAvailable()); });
    addSeparator()->setObjectName(QStringLiteral("N4"));
    AddMenuItem(this, "N1", QStringLiteral("Close KAVREN Nodrel"), this,
                [w] { w->CloseProgram(); });
}

void TWindowMenu::ShowMarks(const TMenuMarks& marks) {
    soundsItem_->setChecked(marks.Sounds);
    notifyItem_->setChecked(marks.Notify);
    transparentItem_->setChecked(marks.Transparent);
    (marks.ViewItem == 1 ? graphViewItem_ : historyViewItem_)->setChecked(true);
    QAction* const blinkItems[] = {blinkOffItem_, blinkSimpleItem_, blinkChessItem_};
    blinkItems[marks.BlinkItem - 1]->setChecked(true);
}

void TWindowMenu::SetStartAtLogin(bool start) {
    const platform::AutostartEntry entry = StartAtLogin();
    const std::optional<QString> failure = start ? entry.Write() : entry.Remove();
    if (!failure) return;
    std::fprintf(stderr, "KAVREN Nodrel: %s not %s: %s\n", qPrintable(entry.Path()),
                 start ? "written" : "removed", qPrintable(*failure));
    commands_.Notifier().Tell(
        QStringLiteral("start-at-login"),
        {start ? QStringLiteral("Not started at login") : QStringLiteral("Still started at login"),
         QStringLiteral("%1\n%2").arg(*failure, entry.Path()), true});
}

}  // namespace nodrel
