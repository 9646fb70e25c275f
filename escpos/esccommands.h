#ifndef ESCCOMMANDS_H
#define ESCCOMMANDS_H

#include <QByteArray>

/**
 * The ESC/POS commands the connector sends, by family, each without its parameters: the
 * caller appends those. Named after the printer makers' command references.
 */
namespace EscPos {

// Printer and print modes.
inline const QByteArray initialize("\x1b\x40", 2);          // ESC @
inline const QByteArray selectPrintMode("\x1b\x21", 2);     // ESC ! n
inline const QByteArray selectJustification("\x1b\x61", 2); // ESC a n (0 left, 1 centre, 2 right)
inline const QByteArray selectCodePage("\x1b\x74", 2);      // ESC t n

// Paper and drawer.
inline const QByteArray cutPartial("\x1d\x56\x31", 3);        // GS V 1
inline const QByteArray feedAndCutPartial("\x1d\x56\x42", 3); // GS V B n: feed n, then cut
inline const QByteArray generatePulse("\x1b\x70", 2);         // ESC p m t1 t2

// Bit images and motion.
inline const QByteArray selectBitImageMode("\x1b\x2a", 2); // ESC * m nL nH d1...dk
inline const QByteArray setMotionUnits("\x1d\x50", 2);     // GS P x y
inline const QByteArray setLineSpacing("\x1b\x33", 2);     // ESC 3 n
inline const QByteArray printAndFeedLines("\x1b\x64", 2);  // ESC d n
inline const QByteArray printAndFeed("\x1b\x4a", 2);       // ESC J n
inline const QByteArray selectPageMode("\x1b\x4c", 2);     // ESC L
inline const QByteArray setPrintArea("\x1b\x57", 2);       // ESC W xL xH yL yH dxL dxH dyL dyH
constexpr char printPage = '\x0c';                         // FF: print the page, leave page mode

// Two-dimensional codes and barcodes.
inline const QByteArray symbol("\x1d\x28\x6b", 3);    // GS ( k pL pH cn fn ...
inline const QByteArray barcodeHeight("\x1d\x68", 2); // GS h n
inline const QByteArray barcodeWidth("\x1d\x77", 2);  // GS w n
inline const QByteArray hriPosition("\x1d\x48", 2);   // GS H n
inline const QByteArray printBarcode("\x1d\x6b", 2);  // GS k m n d1...dn

} // namespace EscPos

#endif
