// The music database reader's figures on their own (media_bench prints them too).
#include "itunes_db_figures.h"

int main() { return ReportItunesDbReader(); }
