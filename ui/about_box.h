#pragma once

// The About box: product, version, the application's icon, a banner and two links.

#include <QDialog>
#include <QUrl>
#include <functional>

namespace nodrel {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    // Copies the application's icon into the icon picture, once, here. The links are handed to
    // `openUrl` (QDesktopServices::openUrl when empty); a link that fails to open changes nothing.
    explicit TAboutBox(std::function<bool(const QUrl&)> openUrl = {}, QWidget* parent = nullptr);

private:
    std::function<bool(const QUrl&)> openUrl_;
};

}  // namespace nodrel
