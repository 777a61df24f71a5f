#pragma once

// Text helpers shared by the dialogs: their font and labels that never clip their text.

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

}  // namespace nodrel
