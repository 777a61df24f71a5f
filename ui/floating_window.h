#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <optional>
#include <string_view>

#include "drawing_surface.h"
#include "echo_library.h"
#include "history_renderer.h"
#include "outage_announcer.h"
#include "outage_watch.h"
#include "ping_thread.h"
#include "probed_hosts.h"
#include "result_history.h"
#include "window_commands.h"
#include "window_dialogs.h"
#include "window_settings.h"

namespace nodrel {

class THoverReadout;
class TNotifier;
class TWindowMenu;
class TWindowPlace;
class TWindowTray;

// The program's one window: a borderless strip above all other windows that shows the recent
// probe outcomes, or, hidden, an icon in the notification area. It owns the worker that probes,
// loads the settings onto its parts when it is made, and saves them when it closes. Its menus
// reach it through its commands.
class TFloatingWindow : public QWidget, public TWindowCommands {
    Q_OBJECT

public:
    using TSoundPlayer = std::function<void(std::string_view bareName)>;

    // Loads the settings and starts probing. When the probe cannot be set up, StartError tells
    // why and the window is left without a worker.
    explicit TFloatingWindow(platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform(),
                             TSoundPlayer playSound = {});
    ~TFloatingWindow() override;

    const std::optional<QString>& StartError() const { return startError_; }
    // Whether the window is to be shown when the program starts: also when it should start in
    // the notification area but there is none, since nothing would then be left to bring it back.
    bool StartsShown() const { return startsShown_; }

    // Operations the menu commands and the options dialog share.
    void ApplyWidth(uint8_t mode);
    void ApplyHeight();
    void ApplyTransparency();
    void UpdateTitles();
    void DrawHistory();

    // Where the stored values live while the program runs.
    TWindowSettings& Settings() { return settings_; }
    const TResultHistory& History() const { return history_; }
    // Tells when an outage starts and ends, as the outcomes arrive.
    TOutageWatch& Outages() { return outages_; }
    TPingThread* Worker() const { return worker_; }
    // Made at their first need.
    QMenu& WindowMenu();
    QMenu& TrayMenu();
    QSystemTrayIcon& TrayIcon();
    int TrayImageIndex() const { return trayImage_; }
    // Each of them made at its first use.
    TWindowDialogs& Dialogs() { return dialogs_; }

    // Saves the settings; SaveFailed tells when they did not reach the store, or reached the file
    // without the disk's confirmation.
    void Save();
    // Follows the system's sleep from now on: no probes while it sleeps, and an outage in
    // progress ends when it falls asleep.
    void FollowSleep();

    // TWindowCommands
    void ShowAbout() override;
    void SetSounds(bool on) override;
    void SetNotifications(bool on) override;
    void SetTransparent(bool on) override;
    void SetBlinkMode(uint8_t blinkMode) override;
    void SetViewMode(uint8_t viewMode) override;
    void ChooseColour(ColourSlot slot, const QString& what) override;
    void ChooseFrameColour(const QString& what) override;
    void SwitchSize() override;
    void ShowJournal() override;
    // What the user confirmed in Options goes to the probe and reshapes the window.
    void ShowOptions() override;
    bool TrayAvailable() override;
    void MinimizeToTray() override;
    void ShowFromTray() override;
    void CloseProgram() override;
    // Made at its first need.
    TNotifier& Notifier() override;

signals:
    // The window was exposed for the first time since it was shown; its first paint follows.
    void Exposed();
    // A save of the settings did not reach the store.
    void SaveFailed(const nodrel::StoreFailure& failure);
    // Every outcome, as it is recorded and before the outage watch hears of it, with the host
    // text it was probed for.
    void OutcomeAdded(bool success, const nodrel::TOutcomeRecord& record, const QString& host);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    void moveEvent(QMoveEvent* event) override;

private:
    // Null, and StartError set, when probing cannot be set up.
    TPingThread* StartWorker(platform::EchoPlatform& echoPlatform);
    // Shows the settings' marks in the window menu, where it is made.
    void ShowMarks();
    // Made at its first need.
    TWindowTray& Tray();
    QString TrayHint() const;
    // Brings the window back when the notification area went away while it was hidden.
    void CheckTrayHost();

    void AddResult(bool success, const TOutcomeRecord& record);
    // The outages are announced as the menu's marks have it: the sounds through `playSound`,
    // the notification through the notifier.
    TOutageAnnouncer::TOutlets AnnouncerOutlets(TSoundPlayer playSound);
    // Probing stops, and an outage in progress ends here: the computer sleeps, or the window
    // closes.
    void StopProbing();

    TResultHistory history_;
    TProbedHosts probedHosts_;  // the host texts the history's outcomes were probed for
    TOutageWatch outages_;
    TRenderSettings render_;
    TColourRegister colourRegister_;
    TFramePanel* framePanel_;
    TDrawingSurface* surface_;
    TWindowPlace* place_;
    THoverReadout* readout_;
    std::optional<QString> startError_;
    // Lives until the process ends: closing never waits for a probe in progress. Made after
    // startError_, which tells why it could not be, and before the settings, which hold the
    // probe's values in it.
    TPingThread* worker_;
    TWindowSettings settings_;
    TOutageAnnouncer announcer_;
    TWindowDialogs dialogs_;

    // Made at its first showing: it is a good part of the memory the program starts with.
    TWindowMenu* windowMenu_ = nullptr;
    TWindowTray* tray_ = nullptr;
    TNotifier* notifier_ = nullptr;
    int trayImage_ = 0;  // the tray image the outcomes ask for: 0 red, 1 blue
    bool startsShown_ = false;
    bool closing_ = false;
};

}  // namespace nodrel
