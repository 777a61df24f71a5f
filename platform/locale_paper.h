#pragma once

// The paper the user's locale prints on.

namespace nodrel::platform {

// Whether it is US Letter, as the C library's LC_PAPER category has it (from LC_ALL, LC_PAPER or
// LANG), or where that locale is not installed, as the locale's name suggests (the United States'
// measures); A4 otherwise.
bool LocalePaperIsLetter();

}  // namespace nodrel::platform
