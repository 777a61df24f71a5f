#pragma once

// What the dialogs share: their font, labels that never clip their text, etched lines.

#include <QFont>
#include <QLabel>
#include <QStringList>

namespace nodrel {

// The dialogs' font: the application's font (the desktop's sans-serif interface font) at
// `pixelSize` pixels.
QFont DialogFont(int pixelSize);

// Enlarges `label` where its own font needs more room than its designed size for the widest of
// `texts`. The edge the text is anchored to stays put: a right-aligned label grows to the left,
// any other to the right; the height grows evenly about the label's middle. The label stays
// inside its parent's contents, which it must have.
void FitLabelToTexts(QLabel& label, const QStringList& texts);

// A label named `name` at its designed place, vertically centred, then fitted to its text, or to
// the widest of `shownTexts` where it will show several.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect designed,
                  Qt::Alignment horizontal = Qt::AlignLeft, const QStringList& shownTexts = {});

// A horizontal etched line at its designed place.
void MakeEtchedLine(QWidget* parent, const char* name, QRect designed);

}  // namespace nodrel
