#pragma once

#include <QObject>
#include <memory>

namespace nodrel {

class X11TrayWatcher;

// Follows whether the notification-area icon can be seen. Qt shows it through a StatusNotifierItem
// host when one was registered with the session bus's watcher at the icon's creation, and else
// through the X system tray, and never switches later: so a host counts only when Qt took that
// path, and an X tray always counts (panels that are hosts are X trays too, where there is X).
// Both are followed as they come and go, by signals, without polling.
class TrayPresence : public QObject {
    Q_OBJECT

public:
    // Call before the first QSystemTrayIcon is made: it asks the bus as Qt is about to.
    explicit TrayPresence(QObject* parent = nullptr);
    ~TrayPresence() override;

    bool Available() const;
    // Whether the icon travels as a StatusNotifierItem, whose hosts report single activations.
    bool ThroughStatusNotifier() const { return throughStatusNotifier_; }

signals:
    void Changed();

private slots:
    void AskStatusNotifierHost();

private:
    void SetStatusNotifierHost(bool registered);

    bool throughStatusNotifier_ = false;
    bool statusNotifierHost_ = false;
    std::unique_ptr<X11TrayWatcher> x11Watcher_;
};

}  // namespace nodrel
