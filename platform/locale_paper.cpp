#include "locale_paper.h"

#include <langinfo.h>
#include <locale.h>

#include <QLocale>
#include <cstring>

namespace nodrel::platform {

namespace {

constexpr unsigned int kLetterWidthMillimetres = 216;

}  // namespace

bool LocalePaperIsLetter() {
    const locale_t paper = newlocale(LC_PAPER_MASK, "", locale_t(nullptr));
    if (paper == locale_t(nullptr)) {
        return QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    }
    // glibc gives the width in millimetres as a word in the place of the pointer.
    const char* const value = nl_langinfo_l(_NL_PAPER_WIDTH, paper);
    unsigned int width = 0;
    std::memcpy(&width, &value, sizeof width);
    freelocale(paper);
    return width == kLetterWidthMillimetres;
}

}  // namespace nodrel::platform
