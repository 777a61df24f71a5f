#include "window_settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "drawing_surface.h"
#include "history_renderer.h"
#include "ping_thread.h"
#include "probed_hosts.h"
#include "window_place.h"

namespace nodrel {

namespace {

// Where the mode bytes, the colour table and the cell geometry live, in the order of ModeByte,
// ColourSlot and GeometryValue.
constexpr uint8_t TRenderSettings::*kModeFields[] = {
    &TRenderSettings::viewmode, &TRenderSettings::modenum, &TRenderSettings::blinkmode};
constexpr uint32_t TRenderSettings::*kColourFields[] = {
    &TRenderSettings::col2, &TRenderSettings::col1, &TRenderSettings::col3, &TRenderSettings::col4,
    &TRenderSettings::col5};
constexpr uint16_t TRenderSettings::*kGeometryFields[] = {
    &TRenderSettings::w, &TRenderSettings::h, &TRenderSettings::hs, &TRenderSettings::ws};

// A stored coordinate that Qt's geometry can carry, width added, without overflowing.
int CarriedCoordinate(int32_t stored) {
    return std::clamp(stored, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

}  // namespace

TWindowSettings::TWindowSettings(const QWidget& window, TWindowPlace& place, TFramePanel& frame,
                                 TRenderSettings& render, TPingThread* worker, TProbedHosts& hosts,
                                 const TResultHistory& history)
    : window_(window),
      place_(place),
      frame_(frame),
      render_(render),
      worker_(worker),
      hosts_(hosts),
      history_(history) {}

int32_t TWindowSettings::WindowLeft() const {
    return place_.Place().x();
}

void TWindowSettings::SetWindowLeft(int32_t left) {
    place_.MoveTo({CarriedCoordinate(left), window_.y()});
}

int32_t TWindowSettings::WindowTop() const {
    return place_.Place().y();
}

void TWindowSettings::SetWindowTop(int32_t top) {
    place_.MoveTo({window_.x(), CarriedCoordinate(top)});
}

int32_t TWindowSettings::WindowHeight() const {
    return window_.height();
}

int32_t TWindowSettings::FirstMonitorHeight() const {
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? 0 : screens.first()->geometry().height();
}

bool TWindowSettings::WindowVisible() const {
    return window_.isVisible();
}

uint8_t TWindowSettings::Mode(ModeByte which) const {
    return render_.*kModeFields[static_cast<int>(which)];
}

void TWindowSettings::SetMode(ModeByte which, uint8_t value) {
    render_.*kModeFields[static_cast<int>(which)] = value;
}

uint32_t TWindowSettings::Colour(ColourSlot slot) const {
    return render_.*kColourFields[static_cast<int>(slot)];
}

void TWindowSettings::SetColour(ColourSlot slot, uint32_t colour) {
    render_.*kColourFields[static_cast<int>(slot)] = colour;
}

uint32_t TWindowSettings::FrameColour() const {
    return FromRgb(frame_.Colour().rgb());
}

void TWindowSettings::SetFrameColour(uint32_t colour) {
    frame_.SetColour(QColor(ToRgb(colour)));
}

uint16_t TWindowSettings::Geometry(GeometryValue which) const {
    return render_.*kGeometryFields[static_cast<int>(which)];
}

void TWindowSettings::SetGeometry(GeometryValue which, uint16_t value) {
    render_.*kGeometryFields[static_cast<int>(which)] = value;
}

// The sound, notification and alpha settings are what the menu's check marks show.
void TWindowSettings::SetSoundsMarked(bool marked) {
    marks_.Sounds = marked;
    emit MarksChanged();
}

void TWindowSettings::SetNotifyMarked(bool marked) {
    marks_.Notify = marked;
    emit MarksChanged();
}

void TWindowSettings::SetTransparentMarked(bool marked) {
    marks_.Transparent = marked;
    emit MarksChanged();
}

void TWindowSettings::MarkViewModeItem(uint8_t viewMode) {
    marks_.ViewItem = viewMode == 1 ? 1 : 2;
    emit MarksChanged();
}

void TWindowSettings::MarkBlinkModeItem(uint8_t blinkMode) {
    // Any other value leaves the marks alone.
    if (blinkMode < 1 || blinkMode > 3) return;
    marks_.BlinkItem = blinkMode;
    emit MarksChanged();
}

int32_t TWindowSettings::Timeout() const {
    return worker_ ? worker_->Ping().Timeout() : 0;
}

void TWindowSettings::SetTimeout(int32_t milliseconds) {
    if (worker_) worker_->Ping().SetTimeout(milliseconds);
}

QString TWindowSettings::Address() const {
    return worker_ ? worker_->Ping().Address() : QString();
}

void TWindowSettings::SetAddress(const QString& host) {
    if (!worker_) return;
    worker_->Ping().SetAddress(host);
    // The outcomes from now on carry this text's number, by which the readout names their host.
    hosts_.SetCurrent(static_cast<uint32_t>(worker_->Ping().AddressGeneration()), host, history_);
}

int32_t TWindowSettings::Interval() const {
    return worker_ ? worker_->Interval() : 0;
}

void TWindowSettings::SetInterval(int32_t milliseconds) {
    if (worker_) worker_->SetInterval(milliseconds);
}

}  // namespace nodrel
