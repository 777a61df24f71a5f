// The floating window as the settings see it: where each stored value lives while the program
// runs (the render settings, the frame, the place, the menu's marks and the worker).
#include <QScreen>
#include <algorithm>

#include "floating_window.h"
#include "window_menu.h"
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

void TFloatingWindow::SetSoundsMarked(bool marked) {
    soundsMarked_ = marked;
    if (windowMenu_) windowMenu_->MarkSounds(marked);
}

void TFloatingWindow::SetTransparentMarked(bool marked) {
    transparentMarked_ = marked;
    if (windowMenu_) windowMenu_->MarkTransparent(marked);
}

void TFloatingWindow::MarkViewModeItem(uint8_t viewMode) {
    if (windowMenu_) windowMenu_->MarkViewMode(viewMode);
}

void TFloatingWindow::MarkBlinkModeItem(uint8_t blinkMode) {
    if (windowMenu_) windowMenu_->MarkBlinkMode(blinkMode);
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
    if (worker_) worker_->Ping().SetAddress(host);
}

int32_t TFloatingWindow::Interval() const {
    return worker_ ? worker_->Interval() : 0;
}

void TFloatingWindow::SetInterval(int32_t milliseconds) {
    if (worker_) worker_->SetInterval(milliseconds);
}

}  // namespace nodrel
