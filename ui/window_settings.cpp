// The floating window as the settings see it: where each stored value lives while the program
// runs (the render settings, the frame, the place, the menu's marks and the worker).
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "floating_window.h"
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

int32_t TFloatingWindow::WindowLeft() const {
    return place_->Place().x();
}

void TFloatingWindow::SetWindowLeft(int32_t left) {
    place_->MoveTo({CarriedCoordinate(left), y()});
}

int32_t TFloatingWindow::WindowTop() const {
    return place_->Place().y();
}

void TFloatingWindow::SetWindowTop(int32_t top) {
    place_->MoveTo({x(), CarriedCoordinate(top)});
}

int32_t TFloatingWindow::FirstMonitorHeight() const {
    const QList<QScreen*> screens = QGuiApplication::screens();
    return screens.isEmpty() ? 0 : screens.first()->geometry().height();
}

uint8_t TFloatingWindow::Mode(ModeByte which) const {
    return render_.*kModeFields[static_cast<int>(which)];
}

void TFloatingWindow::SetMode(ModeByte which, uint8_t value) {
    render_.*kModeFields[static_cast<int>(which)] = value;
}

uint32_t TFloatingWindow::Colour(ColourSlot slot) const {
    return render_.*kColourFields[static_cast<int>(slot)];
}

void TFloatingWindow::SetColour(ColourSlot slot, uint32_t colour) {
    render_.*kColourFields[static_cast<int>(slot)] = colour;
}

uint32_t TFloatingWindow::FrameColour() const {
    return FromRgb(framePanel_->Colour().rgb());
}

void TFloatingWindow::SetFrameColour(uint32_t colour) {
    framePanel_->SetColour(QColor(ToRgb(colour)));
}

uint16_t TFloatingWindow::Geometry(GeometryValue which) const {
    return render_.*kGeometryFields[static_cast<int>(which)];
}

void TFloatingWindow::SetGeometry(GeometryValue which, uint16_t value) {
    render_.*kGeometryFields[static_cast<int>(which)] = value;
}

// The sound, notification and alpha settings are what the menu's check marks show.
void TFloatingWindow::SetSoundsMarked(bool marked) {
    marks_.Sounds = marked;
    ShowMarks();
}

void TFloatingWindow::SetNotifyMarked(bool marked) {
    marks_.Notify = marked;
    ShowMarks();
}

void TFloatingWindow::SetTransparentMarked(bool marked) {
    marks_.Transparent = marked;
    ShowMarks();
}

void TFloatingWindow::MarkViewModeItem(uint8_t viewMode) {
    marks_.ViewItem = viewMode == 1 ? 1 : 2;
    ShowMarks();
}

void TFloatingWindow::MarkBlinkModeItem(uint8_t blinkMode) {
    // Any other value leaves the marks alone.
    if (blinkMode < 1 || blinkMode > 3) return;
    marks_.BlinkItem = blinkMode;
    ShowMarks();
}

int32_t TFloatingWindow::Timeout() const {
    return worker_ ? worker_->Ping().Timeout() : 0;
}

void TFloatingWindow::SetTimeout(int32_t milliseconds) {
    if (worker_) worker_->Ping().SetTimeout(milliseconds);
}

QString TFloatingWindow::Address() const {
    return worker_ ? worker_->Ping().Address() : QString();
}

void TFloatingWindow::SetAddress(const QString& host) {
    if (!worker_) return;
    worker_->Ping().SetAddress(host);
    // The outcomes from now on carry this text's number, by which the readout names their host.
    probedHosts_.SetCurrent(static_cast<uint32_t>(worker_->Ping().AddressGeneration()), host,
                            history_);
}

int32_t TFloatingWindow::Interval() const {
    return worker_ ? worker_->Interval() : 0;
}

void TFloatingWindow::SetInterval(int32_t milliseconds) {
    if (worker_) worker_->SetInterval(milliseconds);
}

}  // namespace nodrel
