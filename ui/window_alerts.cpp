// What the floating window does when an outage is told, around the system's sleep and when it
// stops watching.
#include <QDateTime>

#include "floating_window.h"
#include "notifier.h"
#include "outage_notice.h"
#include "sleep_watch.h"

namespace nodrel {

namespace {

// One notification at a time tells of the outages: the end replaces the start.
const QString kOutageTopic = QStringLiteral("outage");

}  // namespace

TNotifier& TFloatingWindow::Notifier() {
    if (notifier_ == nullptr) {
        notifier_ = new TNotifier(*this);
        // A notice clicked while the program closes (its failed save) brings nothing back.
        connect(notifier_, &TNotifier::Activated, this, [this] {
            if (!closing_) ShowFromTray();
        });
    }
    return *notifier_;
}

void TFloatingWindow::FollowAlerts() {
    connect(&alerts_, &TOutageAlerts::Raised, this, [this](const TOutage& outage) {
        if (SoundsMarked()) playSound_(SoundFileName(TDueSound::Alarm));
        if (NotifyMarked()) Notifier().Tell(kOutageTopic, OutageStartNotice(outage));
    });
    // The fault moved: the start's notice says where it lies now, with no second alarm.
    connect(&alerts_, &TOutageAlerts::Relocated, this, [this](const TOutage& outage) {
        if (NotifyMarked()) Notifier().Tell(kOutageTopic, OutageStartNotice(outage));
    });
    // The end replaces the start's notice.
    const auto tellEnd = [this](const TOutage& outage) {
        if (NotifyMarked()) Notifier().Tell(kOutageTopic, OutageEndNotice(outage));
    };
    connect(&alerts_, &TOutageAlerts::Cleared, this, [this, tellEnd](const TOutage& outage) {
        // The recovery sound marks only an outage of three failures or more.
        if (SoundsMarked() && outage.Failures > 2) playSound_(SoundFileName(TDueSound::Recovery));
        tellEnd(outage);
    });
    // A host no longer probed has not recovered: no sound.
    connect(&alerts_, &TOutageAlerts::Abandoned, this, tellEnd);
    connect(&alerts_, &TOutageAlerts::Withdrawn, this, [this] {
        if (notifier_) notifier_->Withdraw(kOutageTopic);
    });
}

void TFloatingWindow::FollowSleep() {
    auto* sleep = new platform::SleepWatch(this);
    connect(sleep, &platform::SleepWatch::Sleeping, this, &TFloatingWindow::Sleep);
    connect(sleep, &platform::SleepWatch::Woke, this, &TFloatingWindow::Wake);
}

void TFloatingWindow::Sleep() {
    if (worker_) worker_->SuspendProbing();
    outages_.Interrupt(QDateTime::currentMSecsSinceEpoch());
}

void TFloatingWindow::Wake() {
    alerts_.Woke(QDateTime::currentMSecsSinceEpoch());
    if (worker_) worker_->ResumeProbing();
}

void TFloatingWindow::StopWatching() {
    if (worker_) worker_->SuspendProbing();
    outages_.Interrupt(QDateTime::currentMSecsSinceEpoch());
    // What the notices said of the watch no longer holds once the program has ended.
    if (notifier_) notifier_->WithdrawAll();
}

}  // namespace nodrel
