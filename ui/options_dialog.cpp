#include "options_dialog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "dialog_text.h"

namespace nodrel {
namespace {

constexpr int kMinSeconds = 1;
constexpr int kMaxSeconds = 60;
// One arrow-key press takes a track bar straight to the end of its range.
constexpr int kSliderLineStep = 200;
constexpr int kDelayLineStep = 500;

// Milliseconds to whole seconds, clamped into the slider range. Rounding to nearest, the default
// mode, takes halves to the even neighbour.
int SliderSeconds(int32_t milliseconds) {
    return static_cast<int>(std::clamp(std::nearbyint(milliseconds / 1000.0), double{kMinSeconds},
                                       double{kMaxSeconds}));
}

QString SecondsText(int seconds) {
    return QString::number(seconds) + QStringLiteral(" s.");
}

QSlider* MakeSlider(QWidget* parent, const char* name, QRect designed, int minimum, int maximum,
                    int lineStep) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QString::fromLatin1(name));
    slider->setGeometry(designed);
    slider->setRange(minimum, maximum);
    slider->setTickPosition(QSlider::TicksAbove);
    slider->setTickInterval(1);
    slider->setSingleStep(lineStep);
    slider->setPageStep(0);
    return slider;
}

}  // namespace

TOptionsDialog::TOptionsDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("KAVREN Nodrel Options"));
    setFixedSize(348, 208);
    setFont(DialogFont(11));

    hostEdit_ = new QLineEdit(this);
    hostEdit_->setObjectName(QStringLiteral("eHost"));
    hostEdit_->setGeometry(79, 4, 121, 21);
    // The edit's own label sits on its left, three pixels away, centred on its height.
    const int hostLabelWidth = fontMetrics().horizontalAdvance(QStringLiteral("Host"));
    auto* hostLabel = MakeLabel(this, "", QStringLiteral("Host"),
                                QRect(76 - hostLabelWidth, 8, hostLabelWidth, 13), Qt::AlignRight);
    hostLabel->setBuddy(hostEdit_);

    QStringList secondsTexts;
    for (int seconds = kMinSeconds; seconds <= kMaxSeconds; ++seconds) {
        secondsTexts << SecondsText(seconds);
    }
    MakeLabel(this, "Label1", QStringLiteral("Ping Timeout"), QRect(13, 36, 62, 13),
              Qt::AlignRight);
    timeoutSlider_ =
        MakeSlider(this, "tb1", QRect(75, 28, 209, 29), kMinSeconds, kMaxSeconds, kSliderLineStep);
    timeoutValueLabel_ = MakeLabel(this, "l1", QStringLiteral("xxx"), QRect(285, 36, 15, 13),
                                   Qt::AlignLeft, secondsTexts);
    MakeLabel(this, "Label2", QStringLiteral("Ping Delay"), QRect(24, 63, 51, 13), Qt::AlignRight);
    intervalSlider_ =
        MakeSlider(this, "tb2", QRect(75, 57, 209, 29), kMinSeconds, kMaxSeconds, kDelayLineStep);
    intervalValueLabel_ = MakeLabel(this, "l2", QStringLiteral("xxx"), QRect(285, 65, 15, 13),
                                    Qt::AlignLeft, secondsTexts);

    MakeEtchedLine(this, "Bevel1", QRect(2, 90, 373, 2));
    MakeLabel(this, "Label3", QStringLiteral("Brick width"), QRect(21, 105, 52, 13),
              Qt::AlignRight);
    cellWidthSlider_ = MakeSlider(this, "xW", QRect(75, 96, 95, 29), 1, 10, kSliderLineStep);
    MakeLabel(this, "Label4", QStringLiteral("Space width"), QRect(185, 105, 59, 13),
              Qt::AlignRight);
    spaceWidthSlider_ = MakeSlider(this, "xWS", QRect(244, 96, 95, 29), 0, 5, kSliderLineStep);
    MakeLabel(this, "Label5", QStringLiteral("Brick height"), QRect(16, 131, 56, 13),
              Qt::AlignRight);
    cellHeightSlider_ = MakeSlider(this, "xH", QRect(75, 124, 95, 29), 1, 10, kSliderLineStep);
    MakeLabel(this, "Label6", QStringLiteral("Space height"), QRect(181, 131, 63, 13),
              Qt::AlignRight);
    spaceHeightSlider_ = MakeSlider(this, "xHs", QRect(244, 124, 95, 29), 0, 5, kSliderLineStep);
    MakeEtchedLine(this, "Bevel2", QRect(-21, 155, 373, 2));

    okButton_ = new QPushButton(QStringLiteral("OK"), this);
    okButton_->setObjectName(QStringLiteral("Button1"));
    okButton_->setGeometry(182, 172, 75, 25);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("Button2"));
    cancelButton_->setGeometry(265, 172, 75, 25);

    setTabOrder(hostEdit_, timeoutSlider_);
    setTabOrder(timeoutSlider_, intervalSlider_);
    setTabOrder(intervalSlider_, okButton_);
    setTabOrder(okButton_, cancelButton_);
    setTabOrder(cancelButton_, cellWidthSlider_);
    setTabOrder(cellWidthSlider_, spaceWidthSlider_);
    setTabOrder(spaceWidthSlider_, cellHeightSlider_);
    setTabOrder(cellHeightSlider_, spaceHeightSlider_);

    connect(timeoutSlider_, &QSlider::valueChanged, this, [this] { RefreshSecondsLabels(); });
    connect(intervalSlider_, &QSlider::valueChanged, this, [this] { RefreshSecondsLabels(); });
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    RefreshSecondsLabels();
}

void TOptionsDialog::Fill(const TProbeOptions& current) {
    hostEdit_->setText(current.Host);
    timeoutSlider_->setValue(SliderSeconds(current.Timeout));
    intervalSlider_->setValue(SliderSeconds(current.Interval));
    // QSlider clamps a position into its range.
    cellWidthSlider_->setValue(current.W);
    cellHeightSlider_->setValue(current.H);
    spaceWidthSlider_->setValue(current.WS);
    spaceHeightSlider_->setValue(current.HS);
}

TProbeOptions TOptionsDialog::Values() const {
    return TProbeOptions{
        .Host = hostEdit_->text(),
        .Timeout = timeoutSlider_->value() * 1000,
        .Interval = intervalSlider_->value() * 1000,
        .W = static_cast<uint16_t>(cellWidthSlider_->value()),
        .H = static_cast<uint16_t>(cellHeightSlider_->value()),
        .WS = static_cast<uint16_t>(spaceWidthSlider_->value()),
        .HS = static_cast<uint16_t>(spaceHeightSlider_->value()),
    };
}

void TOptionsDialog::done(int result) {
    // A host of blanks is a host: whether it resolves shows up in the probes.
    if (result == QDialog::Accepted && hostEdit_->text().isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("Please enter a valid host!"));
        FocusHostEdit();
        return;
    }
    QDialog::done(result);
}

void TOptionsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RefreshSecondsLabels();
    FocusHostEdit();
}

void TOptionsDialog::keyPressEvent(QKeyEvent* event) {
    // No button answers Escape; only the title-bar close button cancels.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TOptionsDialog::RefreshSecondsLabels() {
    timeoutValueLabel_->setText(SecondsText(timeoutSlider_->value()));
    intervalValueLabel_->setText(SecondsText(intervalSlider_->value()));
}

void TOptionsDialog::FocusHostEdit() {
    hostEdit_->setFocus(Qt::OtherFocusReason);
    hostEdit_->selectAll();
}

}  // namespace nodrel
