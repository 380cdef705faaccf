// The music database reader on a generated iTunesCDB of about 50 MB. Plain body: the parse (and
// the read from a file) beside one pass that only sums the same bytes as 32-bit words, the least
// any reader must do. Compressed body: the parse beside inflating the same body alone. Figures are
// MB/s of the uncompressed database; each is the best of several alternating rounds, so that a
// busy machine hurts both sides of a ratio alike.
#pragma once

// Prints the figures; 0 when the reader read every track.
int ReportItunesDbReader();
