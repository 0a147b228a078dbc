#pragma once
// The file types the open dialog offers: every raw type identification
// accepts, in both cases, and the TIFF names some backs use.
#include <QString>

namespace ostel::ui {

inline constexpr const char* kRawExtensions[] = {
    "3fr", "arw", "bay", "cap", "cine", "cr2", "crw", "cs1", "dc2", "dcr", "dng", "erf", "fff", "iiq",
    "k25", "kdc", "mdc", "mef", "mos", "mrw", "nef", "nrw", "orf", "pef", "ptx", "pxn", "qtk", "raf",
    "raw", "rdc", "rw2", "rwl", "rwz", "sr2", "srf", "srw", "sti", "x3f", "tif", "tiff",
};

// "RAW Files (*.3fr *.3FR ...);;All Files (*)"
inline QString open_dialog_filter() {
    QString patterns;
    for (const char* e : kRawExtensions) {
        const QString ext = QString::fromLatin1(e);
        patterns += QString(" *.%1 *.%2").arg(ext, ext.toUpper());
    }
    return "RAW Files (" + patterns.trimmed() + ");;All Files (*)";
}

}  // namespace ostel::ui
