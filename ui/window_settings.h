#pragma once

#include <QObject>
#include <QString>

#include "menu_marks.h"
#include "settings.h"

class QWidget;

namespace nodrel {

class TFramePanel;
class TPingThread;
class TProbedHosts;
class TResultHistory;
class TWindowPlace;
struct TRenderSettings;

// The floating window as the settings see it: where each stored value lives while the program
// runs. The place, the frame, the render settings and the worker's probe are the window's; the
// menu's marks, the start in the notification area and the journal switch are kept here.
class TWindowSettings : public QObject, public SettingsHolders {
    Q_OBJECT

public:
    // `worker` is null when probing could not be set up: the probe's values are then left alone.
    // A new address names the host of the outcomes from then on in `hosts`.
    TWindowSettings(const QWidget& window, TWindowPlace& place, TFramePanel& frame,
                    TRenderSettings& render, TPingThread* worker, TProbedHosts& hosts,
                    const TResultHistory& history);

    const TMenuMarks& Marks() const { return marks_; }
    bool ShowAtStart() const { return showAtStart_; }

    int32_t WindowLeft() const override;
    void SetWindowLeft(int32_t left) override;
    int32_t WindowTop() const override;
    void SetWindowTop(int32_t top) override;
    int32_t WindowHeight() const override;
    int32_t FirstMonitorHeight() const override;
    bool WindowVisible() const override;
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

signals:
    // A mark changed: the menu, where it is made, shows them again.
    void MarksChanged();

private:
    const QWidget& window_;
    TWindowPlace& place_;
    TFramePanel& frame_;
    TRenderSettings& render_;
    TPingThread* const worker_;
    TProbedHosts& hosts_;
    const TResultHistory& history_;
    TMenuMarks marks_;
    bool showAtStart_ = false;
    bool journalOn_ = true;
};

}  // namespace nodrel
