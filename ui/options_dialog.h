#pragma once

// The options dialog: host, probe timeout, pause between probes and the cell geometry.

#include <QDialog>
#include <QString>
#include <cstdint>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace nodrel {

// The values the options dialog edits, in the settings' own units (milliseconds, pixels).
struct TProbeOptions {
    QString Host;
    int32_t Timeout;
    int32_t Interval;
    uint16_t W, H, WS, HS;
};

// Created once and shown modally again and again; every showing starts from Fill. exec() returns
// QDialog::Accepted only for OK with a host that is not empty.
class TOptionsDialog : public QDialog {
    Q_OBJECT

public:
    explicit TOptionsDialog(QWidget* parent = nullptr);

    // Host as it is; timeout and interval in whole seconds (halves to the even neighbour) clamped
    // into 1 to 60; the geometry clamped into its track bars' ranges.
    void Fill(const TProbeOptions& current);
    // Host text unchanged, seconds back in milliseconds, geometry as the track bars stand.
    TProbeOptions Values() const;

    // Refuses OK while the host box is empty, with an error message; every other result closes.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void RefreshSecondsLabels();
    void FocusHostEdit();

    QLineEdit* hostEdit_;
    QSlider* timeoutSlider_;
    QLabel* timeoutValueLabel_;
    QSlider* intervalSlider_;
    QLabel* intervalValueLabel_;
    QSlider* cellWidthSlider_;
    QSlider* spaceWidthSlider_;
    QSlider* cellHeightSlider_;
    QSlider* spaceHeightSlider_;
    QPushButton* okButton_;
    QPushButton* cancelButton_;
};

}  // namespace nodrel
