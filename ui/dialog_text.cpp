#include "dialog_text.h"

#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <algorithm>

namespace nodrel {

QFont DialogFont(int pixelSize) {
    QFont font = QApplication::font();
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

void FitLabelToTexts(QLabel& label, const QStringList& texts) {
    const QFontMetrics metrics = label.fontMetrics();
    int neededWidth = 0;
    for (const QString& text : texts) {
        neededWidth = std::max(neededWidth, metrics.horizontalAdvance(text));
    }
    const QRect bounds = label.parentWidget()->contentsRect();
    QRect area = label.geometry();
    if (neededWidth > area.width()) {
        if (label.alignment() & Qt::AlignRight) {
            area.setLeft(std::max(bounds.left(), area.right() + 1 - neededWidth));
        } else {
            area.setRight(std::min(bounds.right(), area.left() + neededWidth - 1));
        }
    }
    const int extraHeight = metrics.height() - area.height();
    if (extraHeight > 0) {
        area.setTop(std::max(bounds.top(), area.top() - extraHeight / 2));
        area.setBottom(std::min(bounds.bottom(), area.top() + metrics.height() - 1));
    }
    label.setGeometry(area);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect designed,
                  Qt::Alignment horizontal, const QStringList& shownTexts) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(horizontal | Qt::AlignVCenter);
    label->setGeometry(designed);
    FitLabelToTexts(*label, shownTexts.isEmpty() ? QStringList{text} : shownTexts);
    return label;
}

void MakeEtchedLine(QWidget* parent, const char* name, QRect designed) {
    auto* line = new QFrame(parent);
    line->setObjectName(QString::fromLatin1(name));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(designed);
}

}  // namespace nodrel
