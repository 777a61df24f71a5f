#pragma once

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "drawing_surface.h"
#include "echo_library.h"
#include "history_renderer.h"
#include "outage_alerts.h"
#include "outage_watch.h"
#include "ping_thread.h"
#include "probed_hosts.h"
#include "result_history.h"
#include "settings.h"

class QColorDialog;
class QDialog;

namespace nodrel {

class TAboutBox;
class TJournalWindow;
struct TJournalNotice;
class THoverReadout;
class TNotifier;
class TOptionsDialog;
class TWindowMenu;
class TWindowPlace;
class TWindowTray;

// What the window menu's check marks show, kept while the menu is not made: as a first start
// shows it, no sounds, notifications on, opaque, History view, blinking off.
struct TMenuMarks {
    bool Sounds = false;
    bool Notify = true;
    bool Transparent = false;
    uint8_t ViewItem = 2;   // 1 Graph, 2 History
    uint8_t BlinkItem = 1;  // 1 Off, 2 Simple order, 3 Chess order
};

// The program's one window: a borderless strip above all other windows that shows the recent
// probe outcomes, or, hidden, an icon in the notification area. It holds the settings while the
// program runs, owns the worker that probes, and saves the settings when it closes.
class TFloatingWindow : public QWidget, public SettingsHolders {
    Q_OBJECT

public:
    using TSoundPlayer = std::function<void(std::string_view bareName)>;

    // Loads the settings and starts probing. When the probe cannot be set up, StartError tells
    // why and the window is left without a worker.
    explicit TFloatingWindow(platform::EchoPlatform& echoPlatform = platform::SystemEchoPlatform(),
                             TSoundPlayer playSound = {});
    ~TFloatingWindow() override;

    const std::optional<QString>& StartError() const { return startError_; }
    bool ShowAtStart() const { return showAtStart_; }
    // Whether the window is to be shown when the program starts: also when it should start in
    // the notification area but there is none, since nothing would then be left to bring it back.
    bool StartsShown() const { return startsShown_; }

    // Operations the menu commands and the options dialog share.
    void ApplyWidth(uint8_t mode);
    void ApplyHeight();
    void ApplyTransparency();
    void UpdateTitles();
    void DrawHistory();

    const TResultHistory& History() const { return history_; }
    // Tells when an outage starts and ends, as the outcomes arrive.
    TOutageWatch& Outages() { return outages_; }
    // Which outages sound the alarm and are notified.
    TOutageAlerts& Alerts() { return alerts_; }
    // Made at its first need.
    TNotifier& Notifier();
    const TRenderSettings& RenderSettings() const { return render_; }
    TPingThread* Worker() const { return worker_; }
    QSystemTrayIcon& TrayIcon();
    int TrayImageIndex() const { return trayImage_; }
    // Made at its first showing.
    QMenu& WindowMenu();
    QMenu& TrayMenu();

    // SettingsHolders (window_settings.cpp)
    int32_t WindowLeft() const override;
    void SetWindowLeft(int32_t left) override;
    int32_t WindowTop() const override;
    void SetWindowTop(int32_t top) override;
    int32_t WindowHeight() const override { return height(); }
    int32_t FirstMonitorHeight() const override;
    bool WindowVisible() const override { return isVisible(); }
    void SetShowAtStart(bool show) override { showAtStart_ = show; }
    uint8_t Mode(ModeByte which) const override;
    void SetMode(ModeByte which, uint8_t value) override;
    uint32_t Colour(ColourSlot slot) const override;
    void SetColour(ColourSlot slot, uint32_t colour) override;
    uint32_t FrameColour() const override;
    void SetFrameColour(uint32_t colour) override;
    uint16_t Geometry(GeometryValue which) const override;
    void SetGeometry(GeometryValue which, uint16_t value) override;
    bool SoundsMarked() const override { return marks_.Sounds; }
    void SetSoundsMarked(bool marked) override;
    bool TransparentMarked() const override { return marks_.Transparent; }
    void SetTransparentMarked(bool marked) override;
    bool NotifyMarked() const override { return marks_.Notify; }
    void SetNotifyMarked(bool marked) override;
    void MarkViewModeItem(uint8_t viewMode) override;
    void MarkBlinkModeItem(uint8_t blinkMode) override;
    int32_t Timeout() const override;
    void SetTimeout(int32_t milliseconds) override;
    QString Address() const override;
    void SetAddress(const QString& host) override;
    int32_t Interval() const override;
    void SetInterval(int32_t milliseconds) override;
    bool JournalOn() const override { return journalOn_; }
    void SetJournalOn(bool on) override { journalOn_ = on; }

    // Saves the settings; SaveFailed tells when they did not reach the store, or reached the file
    // without the disk's confirmation.
    void Save();
    // Whether the notification area can show the icon now.
    bool TrayAvailable();
    // Shows the window again from the notification area.
    void ShowFromTray();
    // Hides the window to the notification area, where there is one.
    void MinimizeToTray();
    void SwitchSize();
    void SetViewMode(uint8_t viewMode);
    void SetBlinkMode(uint8_t blinkMode);
    // Follows the system's sleep from now on: no probes while it sleeps (window_alerts.cpp).
    void FollowSleep();
    // The computer is about to sleep: probing stops, and an outage in progress ends here.
    void Sleep();
    // The computer woke: probing goes on.
    void Wake();

    // The dialogs' commands (window_dialogs.cpp).
    // `what` names what the colour colours, in the colour dialog's title.
    void ChooseColour(ColourSlot slot, const QString& what);
    void ChooseFrameColour(const QString& what);
    void ShowOptions();
    void ShowAbout();
    // Shows the Journal window, made at its first showing.
    void ShowJournal();
    TJournalWindow* JournalWindow() const { return journalWindow_.get(); }
    // What became of the journal's writes, for the Journal window to say it is paused.
    void JournalNoticed(const TJournalNotice& notice);

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
    // Shows `marks_` in the window menu, where it is made.
    void ShowMarks();
    // Made at its first need.
    TWindowTray& Tray();
    QString TrayHint() const;
    // Brings the window back when the notification area went away while it was hidden.
    void CheckTrayHost();
    // The colour the user chose in the colour dialog for `what`, starting at `initial`; nothing
    // on cancel.
    std::optional<QColor> PickColour(QColor initial, const QString& what);
    // Shows `dialog` modally above this window, centred on the screen that holds the window.
    int ShowDialog(QDialog& dialog);

    void AddResult(bool success, const TOutcomeRecord& record);
    // The alarm, the recovery sound and the notifications follow the outages told.
    void FollowAlerts();
    // The window closes: probing stops, an outage in progress ends here, and the notices of the
    // outages and the journal go (window_alerts.cpp).
    void StopWatching();

    TFramePanel* framePanel_;
    TDrawingSurface* surface_;
    TWindowPlace* place_;
    TMenuMarks marks_;
    // Made at its first showing: it is a good part of the memory the program starts with.
    TWindowMenu* windowMenu_ = nullptr;
    TWindowTray* tray_ = nullptr;
    bool journalOn_ = true;
    QColorDialog* colourDialog_ = nullptr;

    TSoundPlayer playSound_;
    TResultHistory history_;
    TProbedHosts probedHosts_;  // the host texts the history's outcomes were probed for
    TOutageWatch outages_;
    TOutageAlerts alerts_{outages_};
    TNotifier* notifier_ = nullptr;
    TRenderSettings render_;
    TColourRegister colourRegister_;
    THoverReadout* readout_;
    int trayImage_ = 0;  // the tray image the outcomes ask for: 0 red, 1 blue
    bool showAtStart_ = false;
    bool startsShown_ = false;
    bool closing_ = false;
    std::optional<QString> startError_;

    // Lives until the process ends: closing never waits for a probe in progress.
    TPingThread* worker_ = nullptr;
    // Made at their first use, without an owner, and kept for later ones.
    std::unique_ptr<TOptionsDialog> optionsDialog_;
    std::unique_ptr<TAboutBox> aboutBox_;
    // A window of its own with a taskbar entry, not a child: closing it only hides it.
    std::unique_ptr<TJournalWindow> journalWindow_;
    std::optional<int64_t> journalPausedSince_;
};

}  // namespace nodrel
