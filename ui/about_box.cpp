#include "about_box.h"

#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

#include "dialog_text.h"
#include "program_icon.h"

namespace nodrel {
namespace {

const QString kMakerWebAddress = QStringLiteral("https://kavren.example/");
const QString kDeveloperMailLink =
    QStringLiteral("mailto:nodrel@kavren.example?subject=KAVREN Nodrel");

constexpr QColor kLinkBlue{0, 0, 255};

// A label that runs `onClick` when the left button is pressed and released over it.
class ClickableLabel : public QLabel {
public:
    ClickableLabel(QWidget* parent, std::function<void()> onClick)
        : QLabel(parent), onClick_(std::move(onClick)) {
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void mousePressEvent(QMouseEvent* event) override { event->accept(); }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
            onClick_();
        }
    }

private:
    std::function<void()> onClick_;
};

// The maker's banner, 150 x 68: a row of result cells over the maker's name.
QPixmap DrawBanner(const QFont& baseFont) {
    QPixmap banner(150, 68);
    banner.fill(Qt::white);
    QPainter painter(&banner);
    painter.setRenderHint(QPainter::Antialiasing);

    constexpr int kCells = 9, kCellSize = 12, kCellGap = 4;
    constexpr int kRowWidth = kCells * kCellSize + (kCells - 1) * kCellGap;
    const QColor success(0x1f, 0x4f, 0xd8), failure(0xd8, 0x2a, 0x2a);
    for (int cell = 0; cell < kCells; ++cell) {
        const bool failed = cell == 5 || cell == 6;
        painter.setPen(Qt::NoPen);
        painter.setBrush(failed ? failure : success);
        painter.drawRoundedRect(
            QRectF((150 - kRowWidth) / 2 + cell * (kCellSize + kCellGap), 6, kCellSize, kCellSize),
            2, 2);
    }

    QFont nameFont = baseFont;
    nameFont.setBold(true);
    nameFont.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    const QString name = QStringLiteral("KAVREN");
    const QRect nameArea(4, 22, 142, 38);
    for (int pixelSize = 30; pixelSize > 8; --pixelSize) {
        nameFont.setPixelSize(pixelSize);
        if (QFontMetrics(nameFont).horizontalAdvance(name) <= nameArea.width()) {
            break;
        }
    }
    painter.setFont(nameFont);
    painter.setPen(QColor(0x14, 0x24, 0x5c));
    painter.drawText(nameArea, Qt::AlignCenter, name);
    painter.fillRect(QRect(45, 62, 60, 2), failure);
    return banner;
}

void SetTextColour(QWidget& widget, const QColor& colour) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, colour);
    widget.setPalette(palette);
}

}  // namespace

TAboutBox::TAboutBox(std::function<bool(const QUrl&)> openUrl, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      openUrl_(openUrl ? std::move(openUrl)
                       : [](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About..."));
    setFixedSize(267, 244);
    setFont(DialogFont(11));

    auto* bannerStrip = new QWidget(this);
    bannerStrip->setGeometry(0, 0, 267, 74);
    bannerStrip->setAutoFillBackground(true);
    QPalette white = bannerStrip->palette();
    white.setColor(QPalette::Window, Qt::white);
    bannerStrip->setPalette(white);
    auto* banner = new ClickableLabel(bannerStrip, [this] { openUrl_(QUrl(kMakerWebAddress)); });
    banner->setObjectName(QStringLiteral("Image2"));
    banner->setGeometry(bannerStrip->rect());
    banner->setAlignment(Qt::AlignCenter);
    banner->setPixmap(DrawBanner(font()));

    MakeEtchedLine(this, "Bevel1", QRect(0, 74, 267, 2));

    // A groove: lowered outer edge around a raised inner edge.
    auto* infoPanel = new QFrame(this);
    infoPanel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    infoPanel->setGeometry(8, 83, 251, 119);

    auto* programIcon = new QLabel(infoPanel);
    programIcon->setObjectName(QStringLiteral("ProgramIcon"));
    programIcon->setGeometry(8, 8, 33, 37);
    programIcon->setAlignment(Qt::AlignCenter);
    programIcon->setPixmap(ApplicationIcon().pixmap(programIcon->size()));

    auto* productName = new QLabel(QStringLiteral("KAVREN Nodrel"), infoPanel);
    productName->setObjectName(QStringLiteral("ProductName"));
    QFont productFont = DialogFont(16);
    productFont.setBold(true);
    productName->setFont(productFont);
    SetTextColour(*productName, kLinkBlue);
    productName->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    productName->setGeometry(50, 8, 118, 19);
    FitLabelToTexts(*productName, {productName->text()});

    MakeLabel(infoPanel, "Version", QStringLiteral("Version 1.4  (05 Oct 2010)"),
              QRect(50, 32, 127, 13));
    MakeLabel(infoPanel, "Label1", QStringLiteral("\u00a9 KAVREN. All rights reserved."),
              QRect(50, 75, 191, 13));
    auto* developerCaption =
        MakeLabel(infoPanel, "Label3", QStringLiteral("Developer: "), QRect(50, 94, 56, 13));

    // The name follows its caption, however wide the caption had to become.
    auto* developerLink =
        new ClickableLabel(infoPanel, [this] { openUrl_(QUrl(kDeveloperMailLink)); });
    developerLink->setObjectName(QStringLiteral("Label4"));
    developerLink->setText(QStringLiteral("Ivo Stern"));
    QFont linkFont = font();
    linkFont.setUnderline(true);
    developerLink->setFont(linkFont);
    SetTextColour(*developerLink, kLinkBlue);
    developerLink->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    developerLink->setGeometry(developerCaption->geometry().right() + 1, 94, 51, 13);
    FitLabelToTexts(*developerLink, {developerLink->text()});

    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("OKButton"));
    okButton->setGeometry(91, 211, 75, 25);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace nodrel
